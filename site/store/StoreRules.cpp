#include "site/store/StoreRules.h"

#include <algorithm>

void CheckHeader(const std::string& name, int64_t applicationId, int64_t version, bool mustBeCurrent)
{
    if (applicationId != kApplicationId)
        throw StoreError(name + " is not a site database");
    if (version > kSchemaVersion)
        throw StoreError(name + " was made by a newer entravo-site (schema " + std::to_string(version) + ")");
    if (version == 0)
        throw StoreError(name + " is an unfinished site database (schema 0)");
    if (mustBeCurrent && version < kSchemaVersion)
        throw StoreError(name + " is a site database of an older release (schema " + std::to_string(version) +
                         "); bring it up to date with: entravo-site init");
}

std::vector<std::string> SchemaFaults(const std::vector<std::string>& expected, const std::vector<std::string>& found)
{
    const auto lacks = [](const std::vector<std::string>& objects, const std::string& object) {
        return std::find(objects.begin(), objects.end(), object) == objects.end();
    };
    const auto named = [](const std::string& object) { return object.substr(0, object.find(':')); };
    std::vector<std::string> faults;
    for (const std::string& object : expected) {
        if (lacks(found, object))
            faults.push_back("missing or changed: " + named(object));
    }
    for (const std::string& object : found) {
        if (lacks(expected, object))
            faults.push_back("not made by entravo-site: " + named(object));
    }
    return faults;
}

namespace {

constexpr std::string_view kTimeLetters = "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
constexpr int64_t kLetterValues = 64;

} // namespace

std::string SignInTimeText(int64_t at)
{
    int64_t seconds = at % kSignInWeekSeconds;
    std::string text(kSignInTimeLength, kTimeLetters[0]);
    for (auto letter = text.rbegin(); letter != text.rend(); ++letter, seconds /= kLetterValues)
        *letter = kTimeLetters[static_cast<std::size_t>(seconds % kLetterValues)];
    return text;
}

std::vector<int64_t> SignInTimes(int64_t week, std::string_view text)
{
    std::vector<int64_t> times;
    for (std::size_t at = 0; at + kSignInTimeLength <= text.size(); at += kSignInTimeLength) {
        int64_t seconds = 0;
        bool known = true;
        for (const char letter : text.substr(at, kSignInTimeLength)) {
            const std::size_t value = kTimeLetters.find(letter);
            known = known && value != std::string_view::npos;
            seconds = seconds * kLetterValues + static_cast<int64_t>(value);
        }
        if (known)
            times.push_back(week + seconds);
    }
    return times;
}
