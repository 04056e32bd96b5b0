#include "site/settings/Settings.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// NAME=value entries as environ holds them, for as long as the object lives.
class Entries {
public:
    Entries(std::initializer_list<std::string> entries) : m_texts(entries)
    {
        for (const std::string& text : m_texts)
            m_pointers.push_back(text.c_str());
        m_pointers.push_back(nullptr);
    }
    operator SettingEntries() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_texts;
    std::vector<const char*> m_pointers;
};

// The one line a bad setting gives, or "" when there is none.
std::string ProblemOf(const std::string& file, const Entries& environment = {}, const Entries& request = {})
{
    try {
        Settings::Parse(file, "site.conf", environment).ForRequest(request);
    } catch (const SettingsError& error) {
        return error.what();
    }
    return "";
}

} // namespace

TEST(Settings, EachSourceLiesOverTheOneBeforeAndSaysWhereAValueCameFrom)
{
    const Settings defaults = Settings::Parse("", "site.conf", Entries{});
    EXPECT_EQ("/var/lib/entravo-site/site.db", defaults.Text(kDatabaseSetting));
    EXPECT_EQ("", defaults.Text(kTrustedProxiesSetting));
    EXPECT_EQ(8, defaults.Count(kThreadsSetting));
    EXPECT_EQ("the default", defaults.Origin(kThreadsSetting));

    const std::string file = "# the site\r\n\n  ; also a comment\nENTRAVO_SITE_DB = \"/srv/site.db\"\r\n"
                             "ENTRAVO_SITE_THREADS=4\nENTRAVO_SITE_TRUSTED_PROXIES='10.0.0.0/8'\n";
    const Settings read = Settings::Parse(file, "site.conf", Entries{"PATH=/bin", "ENTRAVO_SITE_THREADS=2"});
    EXPECT_EQ("/srv/site.db", read.Text(kDatabaseSetting));
    EXPECT_EQ("site.conf line 4", read.Origin(kDatabaseSetting));
    EXPECT_EQ(2, read.Count(kThreadsSetting));
    EXPECT_EQ("the environment", read.Origin(kThreadsSetting));
    EXPECT_EQ("10.0.0.0/8", read.Text(kTrustedProxiesSetting));
    EXPECT_TRUE(read.Addresses(kTrustedProxiesSetting).Contains(*ParseIpAddress("10.9.8.7")));
    EXPECT_TRUE(defaults.Addresses(kTrustedProxiesSetting).Empty());

    const Settings request = read.ForRequest(Entries{"HTTP_COOKIE=a=1", "ENTRAVO_SITE_DB=postgresql:///entravo"});
    EXPECT_EQ("postgresql:///entravo", request.Text(kDatabaseSetting));
    EXPECT_EQ("the web server's parameters", request.Origin(kDatabaseSetting));
    EXPECT_EQ("/srv/site.db", read.Text(kDatabaseSetting));
}

TEST(Settings, ABadSettingIsOneLineThatNamesItAndWhereItWasFound)
{
    EXPECT_EQ("site.conf line 2: ENTRAVO_SITE_THREADS: '0' is not a whole number from 1 to 64",
              ProblemOf("ENTRAVO_SITE_DB=/srv/site.db\nENTRAVO_SITE_THREADS=0\n"));
    EXPECT_EQ("the environment: ENTRAVO_SITE_THREADS: '8 ' is not a whole number from 1 to 64",
              ProblemOf("", {"ENTRAVO_SITE_THREADS=8 "}));
    EXPECT_EQ("the environment: ENTRAVO_SITE_TRUSTED_PROXIES: '10.0.0.0/33' is not an address or CIDR range",
              ProblemOf("", {"ENTRAVO_SITE_TRUSTED_PROXIES=127.0.0.1, 10.0.0.0/33"}));
    EXPECT_EQ("the web server's parameters: ENTRAVO_SITE_DB: no value", ProblemOf("", {}, {"ENTRAVO_SITE_DB="}));
    // A name that is almost a setting would otherwise be ignored without a word.
    EXPECT_EQ("site.conf line 1: ENTRAVO_SITE_TRUSTED_PROXY is not a setting",
              ProblemOf("ENTRAVO_SITE_TRUSTED_PROXY=10.0.0.1\n"));
    EXPECT_EQ("the environment: ENTRAVO_SITE_DATABASE is not a setting", ProblemOf("", {"ENTRAVO_SITE_DATABASE=x"}));
    EXPECT_EQ("site.conf line 3: ENTRAVO_SITE_DB is set twice", ProblemOf("ENTRAVO_SITE_DB=a\n\nENTRAVO_SITE_DB=b"));
    EXPECT_EQ("site.conf line 1: not NAME=value", ProblemOf("ENTRAVO_SITE_DB /srv/site.db"));
    EXPECT_EQ("site.conf line 1: ENTRAVO_SITE_DB: write the value without quotes or backslashes inside",
              ProblemOf("ENTRAVO_SITE_DB=\"a\\\"b\""));
    EXPECT_EQ("the web server's parameters: ENTRAVO_SITE_THREADS: is read once when a program starts, not for each"
              " request: set it in /etc/entravo-site/site.conf",
              ProblemOf("", {}, {"ENTRAVO_SITE_THREADS=4"}));
    // Other variables, and the one that names the file, are no settings of the table.
    EXPECT_EQ("", ProblemOf("", {"ENTRAVO_SITE_CONF=/srv/site.conf", "ENTRAVO_SIM_LOG=x", "HOME=/root"}));
}

TEST(Settings, TheFileIsTheOneTheEnvironmentNames)
{
    const TempFolder folder;
    const std::string path = folder.Path("site.conf");
    std::ofstream(path) << "ENTRAVO_SITE_DB=/srv/other.db\n";
    const std::string named = "ENTRAVO_SITE_CONF=" + path;
    const Settings settings = Settings::Read(Entries{named});
    EXPECT_EQ("/srv/other.db", settings.Text(kDatabaseSetting));
    EXPECT_EQ(path + " line 1", settings.Origin(kDatabaseSetting));

    const std::string missing = "ENTRAVO_SITE_CONF=" + folder.Path("missing.conf");
    try {
        Settings::Read(Entries{missing});
        ADD_FAILURE() << "a file that is named must be there";
    } catch (const SettingsError& error) {
        EXPECT_EQ("cannot read the settings file " + folder.Path("missing.conf") + ": No such file or directory",
                  std::string(error.what()));
    }
}
