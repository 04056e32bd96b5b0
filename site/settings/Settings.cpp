#include "site/settings/Settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

namespace {

constexpr std::string_view kPrefix = "ENTRAVO_SITE_";
constexpr std::size_t kMostFileBytes = 64 * 1024;
constexpr std::size_t kMostShownText = 64;

std::optional<std::size_t> RowOf(std::string_view name)
{
    for (std::size_t row = 0; row < std::size(kSettingTable); ++row) {
        if (kSettingTable[row].name == name)
            return row;
    }
    return std::nullopt;
}

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Shown(std::string_view text)
{
    return "'" + std::string(text.substr(0, kMostShownText)) + "'";
}

// Reads text as a value of the row's kind into count or addresses; why it is not one, or nothing.
std::optional<std::string> ProblemWith(const SettingRow& row, std::string_view text, int& count, ProxyList& addresses)
{
    switch (row.kind) {
    case SettingKind::Text:
        if (text.empty())
            return std::string("no value");
        return std::nullopt;
    case SettingKind::OptionalText:
        return std::nullopt;
    case SettingKind::Count: {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || count < row.least ||
            count > row.most)
            return Shown(text) + " is not a whole number from " + ValuesOf(row);
        return std::nullopt;
    }
    case SettingKind::AddressList: {
        std::string problem;
        auto list = ProxyList::Parse(text, problem);
        if (!list)
            return problem;
        addresses = std::move(*list);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// systemd reads the same file as the service's EnvironmentFile: a value in quotes loses them
// there too; a backslash or a quote inside one it would read otherwise, so neither is taken.
std::optional<std::string_view> Unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.find_first_of("\"'\\") != std::string_view::npos)
        return std::nullopt;
    return value;
}

struct FileText {
    std::string text;
    std::string path;
};

// Closes the file it holds when it goes.
class OpenFile {
public:
    explicit OpenFile(int descriptor) : m_descriptor(descriptor) {}
    ~OpenFile() { close(m_descriptor); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Get() const { return m_descriptor; }

private:
    int m_descriptor;
};

FileText ReadSettingsFile(SettingEntries environment)
{
    std::string named;
    for (SettingEntries entry = environment; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        if (text.size() > kSettingsFileVariable.size() && text.starts_with(kSettingsFileVariable) &&
            text[kSettingsFileVariable.size()] == '=')
            named = text.substr(kSettingsFileVariable.size() + 1);
    }
    FileText file{"", named.empty() ? std::string(kSettingsFile) : named};
    const int descriptor = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 && errno == ENOENT && named.empty())
        return file;
    if (descriptor < 0)
        throw SettingsError("cannot read the settings file " + file.path + ": " + std::strerror(errno));
    const OpenFile opened(descriptor);
    char buffer[4096];
    for (ssize_t got; (got = read(opened.Get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            throw SettingsError("cannot read the settings file " + file.path + ": " + std::strerror(errno));
        file.text.append(buffer, static_cast<std::size_t>(got));
        if (file.text.size() > kMostFileBytes)
            throw SettingsError("the settings file " + file.path + " is larger than 64 KB");
    }
    return file;
}

} // namespace

std::string ValuesOf(const SettingRow& row)
{
    switch (row.kind) {
    case SettingKind::Text:
    case SettingKind::OptionalText:
        return {};
    case SettingKind::Count:
        return std::to_string(row.least) + " to " + std::to_string(row.most);
    case SettingKind::AddressList:
        return "addresses and CIDR ranges, comma-separated";
    }
    return {};
}

Settings Settings::Read(SettingEntries environment)
{
    const FileText file = ReadSettingsFile(environment);
    return Parse(file.text, file.path, environment);
}

Settings Settings::Parse(std::string_view fileText, std::string_view where, SettingEntries environment)
{
    Settings settings;
    for (const SettingRow& row : kSettingTable)
        settings.m_values.push_back(Checked(row, row.fallback, "the default"));
    std::vector<bool> seen(std::size(kSettingTable), false);
    int number = 0;
    for (std::size_t start = 0; start < fileText.size();) {
        const std::size_t end = std::min(fileText.find('\n', start), fileText.size());
        const std::string_view line = Trim(fileText.substr(start, end - start));
        start = end + 1;
        const std::string place = std::string(where) + " line " + std::to_string(++number);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view name = Trim(line.substr(0, std::min(equals, line.size())));
        if (equals == std::string_view::npos || name.empty())
            throw SettingsError(place + ": not NAME=value");
        const auto row = RowOf(name);
        if (!row)
            throw SettingsError(place + ": " + std::string(name.substr(0, kMostShownText)) + " is not a setting");
        if (seen[*row])
            throw SettingsError(place + ": " + std::string(name) + " is set twice");
        seen[*row] = true;
        const auto value = Unquoted(Trim(line.substr(equals + 1)));
        if (!value)
            throw SettingsError(place + ": " + std::string(name) +
                                ": write the value without quotes or backslashes inside");
        settings.Set(*row, *value, kFromFile, place);
    }
    settings.Apply(environment, kFromEnvironment, "the environment");
    return settings;
}

Settings Settings::ForRequest(SettingEntries parameters) const
{
    Settings settings = *this;
    settings.Apply(parameters, kFromRequest, "the web server's parameters");
    return settings;
}

void Settings::Apply(SettingEntries entries, unsigned source, std::string_view where)
{
    for (SettingEntries entry = entries; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        const std::string_view name = text.substr(0, std::min(equals, text.size()));
        if (!name.starts_with(kPrefix) || equals == std::string_view::npos || name == kSettingsFileVariable)
            continue;
        // A name that is almost one would otherwise be ignored without a word.
        const auto row = RowOf(name);
        if (!row)
            throw SettingsError(std::string(where) + ": " + std::string(name.substr(0, kMostShownText)) +
                                " is not a setting");
        Set(*row, text.substr(equals + 1), source, std::string(where));
    }
}

void Settings::Set(std::size_t row, std::string_view text, unsigned source, std::string origin)
{
    const SettingRow& setting = kSettingTable[row];
    const std::string named = origin + ": " + std::string(setting.name) + ": ";
    if ((setting.sources & source) == 0 && source == kFromRequest)
        throw SettingsError(named + "is read once when a program starts, not for each request: set it in " +
                            std::string(kSettingsFile));
    if ((setting.sources & source) == 0)
        throw SettingsError(named + "cannot be set there");
    m_values[row] = Checked(setting, text, std::move(origin));
}

Settings::Value Settings::Checked(const SettingRow& row, std::string_view text, std::string origin)
{
    Value value{std::string(text), std::move(origin), 0, {}};
    if (const auto problem = ProblemWith(row, text, value.count, value.addresses))
        throw SettingsError(value.origin + ": " + std::string(row.name) + ": " + *problem);
    return value;
}

const Settings::Value& Settings::ValueOf(std::string_view name) const
{
    const auto row = RowOf(name);
    if (!row)
        throw std::logic_error("no setting " + std::string(name));
    return m_values[*row];
}

const std::string& Settings::Text(std::string_view name) const
{
    return ValueOf(name).text;
}

int Settings::Count(std::string_view name) const
{
    return ValueOf(name).count;
}

const ProxyList& Settings::Addresses(std::string_view name) const
{
    return ValueOf(name).addresses;
}

const std::string& Settings::Origin(std::string_view name) const
{
    return ValueOf(name).origin;
}
