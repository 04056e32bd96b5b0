#include "site/command/SiteCommand.h"

#include "site/oidc/Secrets.h"
#include "site/store/SqliteSiteStore.h"
#include "site/verifier/Identity.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

const std::string kGenuine = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"; // tick 12345

struct CommandRun {
    int status;
    std::string out;
    std::string err;
};

// The settings as a settings file of this text would give them.
std::function<Settings()> SettingsFile(const std::string& text)
{
    return [text] {
        const char* const environment[] = {nullptr};
        return Settings::Parse(text, "site.conf", environment);
    };
}

class SiteCommandTest : public ::testing::Test {
protected:
    CommandRun Command(const std::vector<std::string>& args, const std::string& database = "")
    {
        return CommandWith(args, SettingsFile("ENTRAVO_SITE_DB=" + (database.empty() ? m_path : database)));
    }

    CommandRun CommandWith(const std::vector<std::string>& args, const std::function<Settings()>& settings)
    {
        std::ostringstream out;
        std::ostringstream err;
        CommandContext context{out, err, settings, 1'800'000'000};
        const int status = RunSiteCommand(args, context);
        return {status, out.str(), err.str()};
    }

    void ExpectOneErrorLine(const CommandRun& run, int status, const std::string& part)
    {
        EXPECT_EQ(status, run.status) << run.err;
        EXPECT_EQ("", run.out);
        EXPECT_EQ(0u, run.err.rfind("entravo-site: ", 0)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(part)) << run.err;
    }

    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
};

} // namespace

TEST_F(SiteCommandTest, EnrolsListsRevokesAndShowsAttemptsOnePerLine)
{
    EXPECT_EQ("created " + m_path + "\n", Command({"init"}).out);
    EXPECT_EQ(0, Command({"init"}).status);
    EXPECT_EQ(0, Command({"enroll", "0123456789abcdef", "alice smith"}).status);
    EXPECT_EQ(0, Command({"enroll", "2800000000000042", "bob"}).status);
    EXPECT_EQ(0, Command({"revoke", "2800000000000042"}).status);
    const CommandRun list = Command({"list"});
    EXPECT_EQ("0123456789ABCDEF active alice smith\n2800000000000042 revoked bob\n", list.out);
    EXPECT_EQ("", list.err);

    SqliteSiteStore database = SqliteSiteStore::Open(m_path);
    const auto offer = [&](const Origin& origin, int64_t at, const Verification& found) {
        database.CheckString(origin, at, {}, [&] { return found; }, {});
    };
    offer({"192.0.2.7", "192.0.2.0/24", ""}, 1'800'000'000, {});
    offer({"2001:db8::1", "2001:db8::/64", "2001:db8::/48"}, 1'800'000'061,
          {Verdict::NotGenuine, ParseIdentity("0123456789ABCDEF")});
    const CommandRun attempts = Command({"attempts", "5"});
    EXPECT_EQ(0, attempts.status);
    EXPECT_EQ("2027-01-15T08:01:01Z 2001:db8::1 0123456789ABCDEF not-genuine\n"
              "2027-01-15T08:00:00Z 192.0.2.7 - malformed\n",
              attempts.out);
    const std::string newest = Command({"attempts", "1"}).out;
    EXPECT_EQ(1, std::count(newest.begin(), newest.end(), '\n'));
}

TEST_F(SiteCommandTest, ListsSignInsNewestFirstAndGrantsTheAdminPage)
{
    Command({"init"});
    Command({"enroll", "0123456789ABCDEF", "alice smith"});
    Command({"enroll", "2800000000000042", "bob"});
    SqliteSiteStore database = SqliteSiteStore::Open(m_path);
    const auto accept = [&](const char* identity, uint32_t seed, int64_t at, SignInPath path) {
        const Verification found{Verdict::Genuine, ParseIdentity(identity), seed};
        database.CheckString({"192.0.2.7", "192.0.2.0/24", ""}, at, {}, [&] { return found; }, {{}, false, path});
    };
    accept("0123456789ABCDEF", 1, 1'800'000'000 - 2 * 86400, SignInPath::Page);
    accept("0123456789ABCDEF", 2, 1'800'000'000 - 3600, SignInPath::Page);
    accept("2800000000000042", 1, 1'800'000'000 - 60, SignInPath::Api);
    EXPECT_EQ("2027-01-15T07:59:00Z 2800000000000042 192.0.2.7 api bob\n"
              "2027-01-15T07:00:00Z 0123456789ABCDEF 192.0.2.7 page alice smith\n",
              Command({"sign-ins"}).out);
    const std::string threeDays = Command({"sign-ins", "--days", "3"}).out;
    EXPECT_EQ(3, std::count(threeDays.begin(), threeDays.end(), '\n'));
    EXPECT_EQ("2027-01-15T07:00:00Z 0123456789ABCDEF 192.0.2.7 page alice smith\n",
              Command({"sign-ins", "--account", "alice smith"}).out);
    ExpectOneErrorLine(Command({"sign-ins", "--days", "401"}), 2, "--days is from 1 to 400");
    ExpectOneErrorLine(Command({"sign-ins", "--account"}), 2, "--account takes a value");
    ExpectOneErrorLine(Command({"sign-ins", "--hours", "2"}), 2, "unknown option '--hours'");

    EXPECT_EQ("", Command({"admin", "grant", "alice smith"}).out);
    EXPECT_EQ("alice smith was already granted the admin page\n", Command({"admin", "grant", "alice smith"}).out);
    EXPECT_EQ("no active token is enrolled for carol yet: it cannot sign in\n",
              Command({"admin", "grant", "carol"}).out);
    EXPECT_EQ("2027-01-15T08:00:00Z alice smith\n2027-01-15T08:00:00Z carol\n", Command({"admin", "list"}).out);
    EXPECT_EQ(0, Command({"admin", "revoke", "carol"}).status);
    ExpectOneErrorLine(Command({"admin", "revoke", "carol"}), 1, "carol was not granted the admin page");
    ExpectOneErrorLine(Command({"admin", "grant", "~probe"}), 2, "is not an account");
    ExpectOneErrorLine(Command({"admin", "promote", "alice"}), 2, "admin takes: grant ACCOUNT");
}

TEST_F(SiteCommandTest, VerifyPrintsIdentityVerdictAndSeedAndNeedsNoDatabase)
{
    const std::string none = m_folder.Path("none.db");
    const CommandRun genuine = Command({"verify", "http://a.example/cgi-bin/login.cgi?Authenticate=" + kGenuine}, none);
    EXPECT_EQ(0, genuine.status);
    EXPECT_EQ("0123456789ABCDEF genuine 12345\n", genuine.out);

    std::string changed = kGenuine;
    changed[40] = changed[40] == '0' ? '1' : '0';
    const CommandRun forged = Command({"verify", changed}, none);
    EXPECT_EQ(1, forged.status);
    EXPECT_EQ(FormatIdentity(*DecodeAuthenticator(changed)) + " not-genuine -\n", forged.out);

    const CommandRun malformed = Command({"verify", kGenuine.substr(2)}, none);
    EXPECT_EQ(2, malformed.status);
    EXPECT_EQ("- malformed -\n", malformed.out);
    EXPECT_NE(std::string::npos, malformed.err.find("this one has 62")) << malformed.err;
}

TEST_F(SiteCommandTest, BadUsageGivesOneLineAndStatusTwo)
{
    ExpectOneErrorLine(Command({}), 2, "no command");
    ExpectOneErrorLine(Command({"frobnicate"}), 2, "'frobnicate' is not a command");
    ExpectOneErrorLine(Command({"--verbose", "list"}), 2, "unknown option '--verbose'");
    ExpectOneErrorLine(Command({"--db"}), 2, "unknown option '--db'");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF"}), 2, "wrong number of arguments for enroll");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEG", "alice"}), 2, "is not an identity");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "line\nbreak"}), 2, "an account is 1 to 64 bytes");
    ExpectOneErrorLine(Command({"attempts", "0"}), 2, "the number is from 1 to 100000");
    ExpectOneErrorLine(Command({"attempts", "-5"}), 2, "the number is from 1 to 100000");
    ExpectOneErrorLine(Command({"attempts", "--minutes", "61"}), 2, "the number is from 1 to 60");
    ExpectOneErrorLine(Command({"attempts", "--days"}), 2, "--days takes a number");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "evil\xE2\x80\xAEgnp.exe"}), 2, "an account is 1 to 64");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "caf\xE9"}), 2, "an account is 1 to 64");
    ExpectOneErrorLine(Command({"verify"}), 2, "verify takes one");
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "~probe"}), 2, "beginning with '~' are the site's own");
    ExpectOneErrorLine(Command({"probe", "https://logon.example.com/entravo/login.fcgi"}), 2, "http:// URL");
    ExpectOneErrorLine(Command({"probe", "http://127.0.0.1/entravo/login.fcgi?Authenticate=1"}), 2, "without a query");
}

TEST_F(SiteCommandTest, TheDatabaseIsTheSettingUnlessDbNamesOne)
{
    ASSERT_EQ(0, Command({"init"}).status);
    ASSERT_EQ(0, Command({"enroll", "0123456789ABCDEF", "alice"}).status);
    // Settings that are not needed are not read: --db needs none, verify no database at all.
    const auto broken = SettingsFile("ENTRAVO_SITE_THREADS=none\n");
    EXPECT_EQ("0123456789ABCDEF active alice\n", CommandWith({"--db", m_path, "list"}, broken).out);
    EXPECT_EQ(0, CommandWith({"verify", kGenuine}, broken).status);
    ExpectOneErrorLine(CommandWith({"list"}, broken), 2, "site.conf line 1: ENTRAVO_SITE_THREADS: 'none' is not");

    const CommandRun shown = CommandWith({"settings"}, SettingsFile("# the store\nENTRAVO_SITE_DB=" + m_path + "\n"));
    EXPECT_EQ("ENTRAVO_SITE_DB=" + m_path + "  # site.conf line 2\nENTRAVO_SITE_TRUSTED_PROXIES=  # the default\n" +
                  "ENTRAVO_SITE_THREADS=8  # the default\nENTRAVO_SITE_METRICS_FROM=127.0.0.0/8, ::1  # the default\n"
                  "ENTRAVO_SITE_ISSUER=  # the default\n",
              shown.out);
    const CommandRun bad = CommandWith({"settings"}, broken);
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ("", bad.out);
    // The issuer is read as an address by what uses it, and named by settings as a bad one.
    ExpectOneErrorLine(CommandWith({"settings"}, SettingsFile("ENTRAVO_SITE_ISSUER=http://logon.example.com/x\n")), 1,
                       "ENTRAVO_SITE_ISSUER (site.conf line 1): the issuer uses http on a host that is not loopback");
}

TEST_F(SiteCommandTest, DatabaseProblemsGiveOneLineAndLoseNothing)
{
    ASSERT_EQ(0, Command({"init"}).status);
    ASSERT_EQ(0, Command({"enroll", "0123456789ABCDEF", "alice"}).status);
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "mallory"}), 1, "already enrolled");
    ExpectOneErrorLine(Command({"revoke", "FFFFFFFFFFFFFFFF"}), 1, "is not enrolled");
    EXPECT_EQ("0123456789ABCDEF active alice\n", Command({"list"}).out);

    ExpectOneErrorLine(Command({"list"}, m_folder.Path("missing.db")), 1, "entravo-site init");
    ExpectOneErrorLine(Command({"init"}, m_folder.Path("no/such/folder/site.db")), 1, "cannot be opened");
    ExpectOneErrorLine(Command({"init"}, m_folder.Path("")), 1, "cannot be opened");

    const std::string damaged = m_folder.Path("damaged.db");
    std::ofstream(damaged) << std::string(4096, 'x');
    ExpectOneErrorLine(Command({"enroll", "0123456789ABCDEF", "alice"}, damaged), 1,
                       "not a site database or is damaged");
    ExpectOneErrorLine(Command({"init"}, damaged), 1, "not a site database or is damaged");
    std::ifstream check(damaged);
    EXPECT_EQ(std::string(4096, 'x'), std::string(std::istreambuf_iterator<char>(check), {}));
}

TEST_F(SiteCommandTest, HelpFitsOneScreenAndNamesEverySetting)
{
    for (const auto& args : {std::vector<std::string>{"--help"}, {"help"}, {"-h", "list"}}) {
        const CommandRun help = Command(args);
        EXPECT_EQ(0, help.status);
        EXPECT_EQ(0u, help.out.rfind("usage: entravo-site", 0));
        EXPECT_LE(std::count(help.out.begin(), help.out.end(), '\n'), 56) << "a terminal window of full height";
        for (const SettingRow& row : kSettingTable)
            EXPECT_NE(std::string::npos, help.out.find("\n  " + std::string(row.name) + " ")) << row.name;
        std::istringstream lines(help.out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST_F(SiteCommandTest, OidcRegistersApplicationsWithASecretShownOnceAndRotatesTheKey)
{
    ASSERT_EQ(0, Command({"init"}).status);
    const CommandRun added = Command({"oidc", "add", "wiki", "https://wiki.example/cb", "http://127.0.0.1:8080/cb"});
    ASSERT_EQ(0, added.status) << added.err;
    std::istringstream line(added.out);
    std::string id;
    std::string secret;
    line >> id >> secret;
    EXPECT_EQ(22u, id.size());
    EXPECT_EQ(43u, secret.size());
    const CommandRun pub = Command({"oidc", "add", "--public", "board", "https://board.example/"});
    ASSERT_EQ(0, pub.status);
    EXPECT_EQ(23u, pub.out.size()) << "the id alone: " << pub.out;
    EXPECT_EQ(HashSecret(secret), SqliteSiteStore::Open(m_path).FindProviderClient(id)->secretHash)
        << "kept as its hash";

    // Both were added at the test's one instant, so they come in the order of their ids.
    const std::string wiki = id + " confidential 2027-01-15T08:00:00Z wiki\n  https://wiki.example/cb\n"
                                  "  http://127.0.0.1:8080/cb\n";
    const std::string board = pub.out.substr(0, 22) + " public 2027-01-15T08:00:00Z board\n  https://board.example/\n";
    EXPECT_EQ(id < pub.out.substr(0, 22) ? wiki + board : board + wiki, Command({"oidc", "list"}).out);
    EXPECT_EQ(0, Command({"oidc", "remove", id}).status);
    ExpectOneErrorLine(Command({"oidc", "remove", id}), 1, "there is no OpenID Connect client");
    ExpectOneErrorLine(Command({"oidc", "add", "wiki", "http://wiki.example/cb"}), 2, "http on a host that is not");
    ExpectOneErrorLine(Command({"oidc", "add", "wiki", "https://wiki.example/cb#top"}), 2, "has a fragment");
    ExpectOneErrorLine(Command({"oidc", "add", "wiki"}), 2, "at least one redirect URI");
    ExpectOneErrorLine(Command({"oidc", "rotate", "now"}), 2, "oidc takes:");

    const CommandRun made = Command({"oidc", "init"});
    ASSERT_EQ(0, made.status);
    EXPECT_EQ(made.out, Command({"oidc", "init"}).out) << "made once";
    const std::string first = made.out.substr(std::string("signing key ").size(), 43);
    const CommandRun rotated = Command({"oidc", "rotate"});
    EXPECT_NE(std::string::npos, rotated.out.find("; " + first + " is published while its ID tokens live"))
        << rotated.out;
    EXPECT_EQ(2u, SqliteSiteStore::Open(m_path).ReadProviderKeys().keys.size());
}
