#include "tests/support/uidriver/EnvironmentBlock.h"

#include <algorithm>
#include <cctype>

namespace uidriver {
namespace {

// The name of "=C:=C:\\dir" is "=C:": a leading '=' belongs to the name.
std::string_view NameOf(std::string_view entry)
{
    const auto equals = entry.find('=', 1);
    return entry.substr(0, equals == std::string_view::npos ? entry.size() : equals);
}

char Upper(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool SameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return Upper(x) == Upper(y); });
}

bool NameLess(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Upper(x) < Upper(y); });
}

} // namespace

std::string BuildEnvironmentBlock(const std::vector<std::string>& entries,
                                  const std::vector<EnvironmentChange>& changes)
{
    std::vector<std::string> result;
    for (const auto& entry : entries) {
        if (entry.empty())
            continue;
        const auto name = NameOf(entry);
        const bool changed = std::any_of(changes.begin(), changes.end(),
                                         [&](const EnvironmentChange& change) { return SameName(change.name, name); });
        if (!changed)
            result.push_back(entry);
    }
    for (auto change = changes.begin(); change != changes.end(); ++change) {
        const bool changedAgainLater =
            std::any_of(std::next(change), changes.end(),
                        [&](const EnvironmentChange& later) { return SameName(later.name, change->name); });
        if (!changedAgainLater && change->value)
            result.push_back(change->name + "=" + *change->value);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const std::string& a, const std::string& b) { return NameLess(NameOf(a), NameOf(b)); });

    std::string block;
    for (const auto& entry : result) {
        block += entry;
        block += '\0';
    }
    // An empty block still needs two NULs to be read as empty.
    if (block.empty())
        block += '\0';
    block += '\0';
    return block;
}

std::vector<std::string> SplitEnvironmentBlock(std::string_view block)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < block.size()) {
        const auto end = block.find('\0', start);
        const auto entry = block.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (entry.empty())
            break;
        entries.emplace_back(entry);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return entries;
}

} // namespace uidriver
