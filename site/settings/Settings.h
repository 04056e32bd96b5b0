#pragma once
// The site's settings as one table: each one's name, kind, default, where it may come from and
// what it means. Every program reads them the same way, each source over the one before: the
// settings file, then the process's environment, then (for the login pages) the web server's
// parameters of one request. login.fcgi reads and checks them once when it starts, login.cgi
// for each request, entravo-site for its --db default. A new setting is one row here: reading,
// checking, --help and the manual page follow from it. What no operator sets is compiled in,
// named once: the answers' tuning in site/cgi/Exchange.h, the store's periods and sizes in
// site/store.
#include "site/settings/AddressRanges.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Where a setting may come from.
enum SettingSource : unsigned { kFromFile = 1u, kFromEnvironment = 2u, kFromRequest = 4u };
inline constexpr unsigned kFromAnywhere = kFromFile | kFromEnvironment | kFromRequest;
// Read once when a process starts: a request cannot change it.
inline constexpr unsigned kAtStart = kFromFile | kFromEnvironment;

enum class SettingKind {
    Text,         // any text but none
    OptionalText, // any text, or none
    Count,        // a whole number from least to most
    AddressList,  // addresses and CIDR ranges, comma-separated; may be empty
};

struct SettingRow {
    std::string_view name;
    SettingKind kind;
    std::string_view fallback; // when no source sets it
    unsigned sources;
    std::string_view meaning; // for --help and the manual page, which add the kind's values
    int least = 0;            // Count only
    int most = 0;
};

inline constexpr std::string_view kDatabaseSetting = "ENTRAVO_SITE_DB";
inline constexpr std::string_view kTrustedProxiesSetting = "ENTRAVO_SITE_TRUSTED_PROXIES";
inline constexpr std::string_view kThreadsSetting = "ENTRAVO_SITE_THREADS";
inline constexpr std::string_view kMetricsFromSetting = "ENTRAVO_SITE_METRICS_FROM";
inline constexpr std::string_view kIssuerSetting = "ENTRAVO_SITE_ISSUER";

inline constexpr SettingRow kSettingTable[] = {
    {kDatabaseSetting, SettingKind::Text, "/var/lib/entravo-site/site.db", kFromAnywhere,
     "the store: a SQLite file, or a PostgreSQL URI"},
    {kTrustedProxiesSetting, SettingKind::AddressList, "", kFromAnywhere, "the reverse proxies to trust"},
    {kThreadsSetting, SettingKind::Count, "8", kAtStart, "login.fcgi's threads, each holding a store connection", 1,
     64},
    {kMetricsFromSetting, SettingKind::AddressList, "127.0.0.0/8, ::1", kFromAnywhere, "readers of /metrics"},
    // Checked as an address by the provider (site/oidc/Uri.h), which this layer does not reach.
    {kIssuerSetting, SettingKind::OptionalText, "", kFromAnywhere,
     "the OpenID Connect issuer: the login page's https URL (http on loopback)"},
};

// The values a row takes, as --help says them after its meaning ("1 to 64"); empty for text.
std::string ValuesOf(const SettingRow& row);

// The settings file, unless ENTRAVO_SITE_CONF in the environment names another (a second site
// on one machine, the tests). Without it the defaults hold; a file it names must be there.
inline constexpr std::string_view kSettingsFile = "/etc/entravo-site/site.conf";
inline constexpr std::string_view kSettingsFileVariable = "ENTRAVO_SITE_CONF";

// NAME=value entries as the environment (environ) and FastCGI's parameters come: an array
// ended by a null pointer.
using SettingEntries = const char* const*;

// A bad setting: one line that names it, where it was found, and why.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Settings {
public:
    // The settings file (when there is one) with the environment's entries over it.
    // SettingsError for the first bad line or entry.
    static Settings Read(SettingEntries environment);
    // The same from a settings file's text; where names the file in a problem.
    static Settings Parse(std::string_view fileText, std::string_view where, SettingEntries environment);

    // These settings with one request's parameters over them; SettingsError when one is bad or
    // may not come from a request.
    Settings ForRequest(SettingEntries parameters) const;

    // A setting's checked value, by its name in the table: as text, or read as its kind.
    const std::string& Text(std::string_view name) const;
    int Count(std::string_view name) const;
    const ProxyList& Addresses(std::string_view name) const;
    // Where the value came from: "the default", "FILE line N", "the environment" ...
    const std::string& Origin(std::string_view name) const;

private:
    Settings() = default;

    // The text, and what it reads as for its kind: checked once, when it is set.
    struct Value {
        std::string text;
        std::string origin;
        int count = 0;
        ProxyList addresses;
    };
    // Checks the entries that name settings, from one source, and lays them over these.
    void Apply(SettingEntries entries, unsigned source, std::string_view where);
    void Set(std::size_t row, std::string_view text, unsigned source, std::string origin);
    // The text read as the row's kind; SettingsError when it is not one.
    static Value Checked(const SettingRow& row, std::string_view text, std::string origin);
    const Value& ValueOf(std::string_view name) const;

    std::vector<Value> m_values; // one per row of kSettingTable, in its order
};
