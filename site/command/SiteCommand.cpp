#include "site/command/SiteCommand.h"

#include "site/command/AccountName.h"
#include "site/command/OidcCommand.h"
#include "site/command/OperatorRecords.h"
#include "site/command/Probe.h"
#include "site/oidc/Uri.h"
#include "site/store/OpenStore.h"
#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/Identity.h"
#include "site/verifier/LogonInput.h"
#include "site/verifier/Signature.h"

#include <sys/random.h>

#include <algorithm>
#include <memory>
#include <ctime>
#include <string_view>

namespace {

constexpr std::string_view kUsage = "usage: entravo-site [--db PATH|URI] COMMAND [ARGS]\n"
                                    "The database: PATH (SQLite), URI (postgresql://...) or ENTRAVO_SITE_DB below.\n"
                                    "\n"
                                    "  init                     make the site database, or update an older one\n"
                                    "  enroll IDENTITY ACCOUNT  let the token IDENTITY sign in as ACCOUNT\n"
                                    "  revoke IDENTITY          stop the token IDENTITY signing in; ends its sessions\n"
                                    "  list                     enrolled tokens: IDENTITY active|revoked ACCOUNT\n"
                                    "  attempts [N]             the last N sign-in attempts (default 20), newest\n"
                                    "                           first: TIME ADDRESS IDENTITY OUTCOME\n"
                                    "  attempts --minutes M     failures per network in the last M minutes (up to\n"
                                    "                           60): NETWORK FAILURES ADDRESSES LAST\n"
                                    "  attempts --days D        per day and network: DAY NETWORK OUTCOME COUNT\n"
                                    "  sign-ins [--account A] [--days D]  sign-ins of the last D days (default\n"
                                    "                           1), newest first: TIME IDENTITY ADDRESS PATH ACCOUNT\n"
                                    "  prune                    fold old attempts into daily counts, forget expired\n"
                                    "                           sessions, give the space back (works on a full disk)\n"
                                    "  check                    look for damage, a line per fault: status 0 sound,\n"
                                    "                           1 damaged, 2 unreadable; warns of what a failover\n"
                                    "                           could lose, with status 0\n"
                                    "  copy DESTINATION         copy the site into an empty store, a PATH or URI;\n"
                                    "                           stop the login pages first\n"
                                    "  admin grant|revoke ACCOUNT|list  who may see the admin page, /admin\n"
                                    "  client add NAME|list|remove ID  applications of the verification API;\n"
                                    "                           add prints ID KEY (the key is the signing secret)\n"
                                    "  oidc init|rotate         the OpenID Connect signing key: make it, replace it\n"
                                    "  oidc add [--public] NAME REDIRECT_URI...|list|remove ID  applications: add\n"
                                    "                           prints ID SECRET (public: ID; it must use PKCE)\n"
                                    "  verify STRING|URL        IDENTITY VERDICT SEED, without the database; exit\n"
                                    "                           status 0 genuine, 1 not genuine, 2 malformed\n"
                                    "  probe URL                sign in through the login page at URL (http://, as\n"
                                    "                           this machine reaches it) with a throwaway token and\n"
                                    "                           check the answers, one line each; status 0: all good\n"
                                    "  settings                 the settings as the programs read them, and where\n"
                                    "                           each comes from; exit status 1 for a bad one\n"
                                    "\n"
                                    "IDENTITY: 16 hexadecimal digits, as verify prints it from a link the token made.\n"
                                    "ACCOUNT, NAME: 1 to 64 bytes of UTF-8 without control or formatting characters;\n"
                                    "accounts beginning with '~' are the site's own. Exit status 0 on success, 1\n"
                                    "when refused or the database fails, 2 for bad usage.\n";

constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kSettingColumn = 32;

// The settings' part of --help, from their table (the manual page is made from --help): each
// name with its meaning and default, wrapped in a column of their own.
std::string SettingsHelp()
{
    std::string help = "\nSettings: " + std::string(kSettingsFile) + " (NAME=value lines; " +
                       std::string(kSettingsFileVariable) + " names\nanother file), under the environment, " +
                       "under the web server's parameters of each\nrequest (login pages only):\n";
    for (const SettingRow& row : kSettingTable) {
        const std::string values = ValuesOf(row);
        const std::string text = std::string(row.meaning) + (values.empty() ? "" : ": " + values) + " (default " +
                                 (row.fallback.empty() ? std::string("none") : std::string(row.fallback)) +
                                 (row.sources & kFromRequest ? ")" : "; read at start)");
        std::string line = "  " + std::string(row.name);
        for (std::size_t start = 0; start < text.size();) {
            line.resize(kSettingColumn, ' ');
            std::size_t end = std::min(text.size(), start + kHelpWidth - kSettingColumn);
            if (end < text.size())
                end = text.rfind(' ', end) + 1;
            line += text.substr(start, end - start);
            while (line.ends_with(' '))
                line.pop_back();
            help += line + "\n";
            line.clear();
            start = end;
        }
    }
    return help;
}

constexpr int kDefaultAttempts = 20;
constexpr int kMaxAttempts = 100000;
constexpr int kMaxMinutes = static_cast<int>(kAttemptKeepSeconds / 60);
constexpr int kMaxDays = static_cast<int>(kDailyKeepDays);

using Arguments = std::vector<std::string>;

int Fail(CommandContext& context, int status, const std::string& message)
{
    context.err << "entravo-site: " << message << '\n';
    return status;
}

std::optional<RomBytes> IdentityArgument(CommandContext& context, const std::string& text)
{
    const auto identity = ParseIdentity(text);
    if (!identity)
        Fail(context, kExitUsage, "'" + text.substr(0, 40) + "' is not an identity: give 16 hexadecimal digits");
    return identity;
}

// A whole number from 1 to most, or nothing.
std::optional<int> CountArgument(const std::string& text, int most)
{
    const bool digits = !text.empty() && text.size() <= 6 && std::all_of(text.begin(), text.end(), ::isdigit);
    const int count = digits ? std::stoi(text) : 0;
    return count >= 1 && count <= most ? std::optional(count) : std::nullopt;
}

int Init(CommandContext& context, const std::string& path, const Arguments&)
{
    switch (InitialiseStore(path)) {
    case InitResult::Created:
        context.out << "created " << path << '\n';
        break;
    case InitResult::Migrated:
        context.out << "brought " << path << " up to date\n";
        break;
    case InitResult::AlreadyThere:
        context.out << path << " is already a site database\n";
        break;
    }
    return kExitSuccess;
}

int Enroll(CommandContext& context, const std::string& path, const Arguments& args)
{
    const auto identity = IdentityArgument(context, args[0]);
    if (!identity)
        return kExitUsage;
    if (!IsValidAccount(args[1]))
        return Fail(context, kExitUsage,
                    "an account is 1 to " + std::to_string(kMaxAccountLength) +
                        " bytes of UTF-8 without control, formatting or direction characters");
    if (IsReservedAccount(args[1]))
        return Fail(context, kExitUsage, "accounts beginning with '~' are the site's own");
    const auto store = OpenStore(path);
    if (store->Enroll(*identity, args[1], context.now) == EnrollResult::AlreadyEnrolled)
        return Fail(context, kExitFailure, FormatIdentity(*identity) + " is already enrolled (revoke it first)");
    return kExitSuccess;
}

int Revoke(CommandContext& context, const std::string& path, const Arguments& args)
{
    const auto identity = IdentityArgument(context, args[0]);
    if (!identity)
        return kExitUsage;
    const auto store = OpenStore(path);
    switch (store->Revoke(*identity, context.now)) {
    case RevokeResult::NotEnrolled:
        return Fail(context, kExitFailure, FormatIdentity(*identity) + " is not enrolled");
    case RevokeResult::AlreadyRevoked:
        // Nothing to do, and the token cannot sign in: a script that revokes twice succeeds.
        context.out << FormatIdentity(*identity) << " was already revoked\n";
        return kExitSuccess;
    case RevokeResult::Revoked:
        break;
    }
    return kExitSuccess;
}

int List(CommandContext& context, const std::string& path, const Arguments&)
{
    const auto store = OpenStore(path);
    for (const TokenEntry& token : store->Tokens())
        context.out << token.identity << (token.revoked ? " revoked " : " active ") << token.account << '\n';
    return kExitSuccess;
}

int Attempts(CommandContext& context, const std::string& path, const Arguments& args)
{
    const std::string kind = args.empty() || !args[0].starts_with("--") ? "" : args[0];
    if (kind.empty() && args.size() > 1)
        return Fail(context, kExitUsage, "wrong number of arguments for attempts (see --help)");
    if (!kind.empty() && kind != "--minutes" && kind != "--days")
        return Fail(context, kExitUsage, "unknown option '" + kind.substr(0, 40) + "' for attempts (see --help)");
    const int most = kind == "--minutes" ? kMaxMinutes : kind == "--days" ? kMaxDays : kMaxAttempts;
    const std::string* number =
        kind.empty() ? (args.empty() ? nullptr : &args[0]) : (args.size() == 2 ? &args[1] : nullptr);
    if (!kind.empty() && !number)
        return Fail(context, kExitUsage, kind + " takes a number (see --help)");
    const auto count = number ? CountArgument(*number, most) : std::optional(kDefaultAttempts);
    if (!count)
        return Fail(context, kExitUsage, "the number is from 1 to " + std::to_string(most));

    const auto store = OpenStore(path);
    if (kind == "--minutes") {
        for (const NetworkFailures& network : store->FailuresByNetwork(context.now - int64_t{*count} * 60))
            context.out << network.network << ' ' << network.failures << ' ' << network.addresses << ' '
                        << UtcText(network.last) << '\n';
    } else if (kind == "--days") {
        for (const DailyCount& day : store->DailyCounts(context.now - int64_t{*count - 1} * kSecondsPerDay))
            context.out << UtcText(day.day, "%Y-%m-%d") << ' ' << day.network << ' ' << day.outcome << ' ' << day.count
                        << '\n';
    } else {
        for (const AttemptEntry& attempt : store->RecentAttempts(*count))
            context.out << UtcText(attempt.at) << ' ' << attempt.address << ' ' << attempt.identity.value_or("-") << ' '
                        << attempt.outcome << '\n';
    }
    return kExitSuccess;
}

int Prune(CommandContext& context, const std::string& path, const Arguments&)
{
    const auto store = OpenStore(path);
    const PruneReport report = store->Prune(context.now);
    context.out << "folded " << report.attemptsFolded << " attempts into daily counts, forgot " << report.sessionsEnded
                << " expired sessions, freed " << (report.bytesFreed + 1023) / 1024 << " KB\n";
    return kExitSuccess;
}

int Check(CommandContext& context, const std::string& path, const Arguments&)
{
    std::unique_ptr<OperatorStore> store;
    try {
        store = OpenStore(path);
    } catch (const StoreError& error) {
        return Fail(context, kExitUsage, "unreadable: " + std::string(error.what()));
    }
    std::vector<std::string> faults;
    std::vector<std::string> warnings;
    try {
        faults = store->Check();
        warnings = store->Warnings();
    } catch (const StoreError& error) {
        faults.emplace_back(error.what());
    }
    for (const std::string& fault : faults)
        context.out << path << ": " << fault << '\n';
    // The operator's choice: said, but the store is sound.
    for (const std::string& warning : warnings)
        context.out << path << ": warning: " << warning << '\n';
    return faults.empty() ? kExitSuccess : kExitFailure;
}

int Copy(CommandContext& context, const std::string& path, const Arguments& args)
{
    const int64_t rows = CopyStore(path, args[0]);
    context.out << "copied " << rows << " records\n";
    return kExitSuccess;
}

std::optional<int64_t> ClientArgument(const std::string& text)
{
    const bool digits = !text.empty() && text.size() <= 18 && std::all_of(text.begin(), text.end(), ::isdigit);
    return digits ? std::optional(std::stoll(text)) : std::nullopt;
}

int Client(CommandContext& context, const std::string& path, const Arguments& args)
{
    const std::string& action = args[0];
    if (action == "list" && args.size() == 1) {
        for (const ApiClient& client : OpenStore(path)->Clients())
            context.out << client.id << ' ' << UtcText(client.addedAt) << ' ' << client.name << '\n';
        return kExitSuccess;
    }
    if (action == "add" && args.size() == 2) {
        if (!IsValidAccount(args[1]))
            return Fail(context, kExitUsage, "a client's name follows the rules of an account name (see --help)");
        ClientKey key{};
        if (getrandom(key.data(), key.size(), 0) != static_cast<ssize_t>(key.size()))
            return Fail(context, kExitFailure, "the operating system gave no random bits");
        const int64_t id = OpenStore(path)->AddClient(args[1], key, context.now);
        context.out << id << ' ' << Base64(key) << '\n';
        return kExitSuccess;
    }
    if (action == "remove" && args.size() == 2) {
        const auto id = ClientArgument(args[1]);
        if (!id)
            return Fail(context, kExitUsage, "'" + args[1].substr(0, 40) + "' is not a client id");
        if (!OpenStore(path)->RemoveClient(*id))
            return Fail(context, kExitFailure, "there is no client " + args[1]);
        return kExitSuccess;
    }
    return Fail(context, kExitUsage, "client takes: add NAME, list or remove ID (see --help)");
}

int Verify(CommandContext& context, const Arguments& args)
{
    const AuthenticatorInput input = AuthenticatorFromInput(args[0]);
    if (!input.authenticator) {
        context.out << "- malformed -\n";
        return Fail(context, kExitUsage, "malformed: " + input.problem);
    }
    const Verification verification = VerifyAuthenticator(*input.authenticator);
    const std::string identity = verification.identity ? FormatIdentity(*verification.identity) : "-";
    if (verification.verdict != Verdict::Genuine) {
        context.out << identity << " not-genuine -\n";
        return kExitFailure;
    }
    context.out << identity << " genuine " << verification.seed << '\n';
    return kExitSuccess;
}

int Probe(CommandContext& context, const std::string& path, const Arguments& args)
{
    const auto url = ParseHttpUrl(args[0]);
    if (!url)
        return Fail(context, kExitUsage,
                    "probe takes the login page's http:// URL without a query, as this machine reaches it"
                    " (http://127.0.0.1/entravo/login.fcgi)");
    const auto store = OpenStore(path);
    try {
        return RunProbe(*store, *url, context.out, context.now);
    } catch (const std::runtime_error& error) {
        return Fail(context, kExitFailure, error.what());
    }
}

int ShowSettings(CommandContext& context)
{
    const Settings settings = context.readSettings();
    // Read as an address by the provider, which the settings' table does not reach.
    const std::string& issuer = settings.Text(kIssuerSetting);
    if (const std::string problem = issuer.empty() ? "" : IssuerProblem(issuer); !problem.empty())
        return Fail(context, kExitFailure,
                    std::string(kIssuerSetting) + " (" + settings.Origin(kIssuerSetting) + "): " + problem);
    for (const SettingRow& row : kSettingTable)
        context.out << row.name << '=' << settings.Text(row.name) << "  # " << settings.Origin(row.name) << '\n';
    return kExitSuccess;
}

// oidc add with as many redirect URIs as any application needs.
constexpr std::size_t kMostOidcArguments = 34;

struct Command {
    std::string_view name;
    std::size_t minArguments;
    std::size_t maxArguments;
    int (*run)(CommandContext&, const std::string& path, const Arguments&);
};

constexpr Command kCommands[] = {
    {"init", 0, 0, Init},
    {"enroll", 2, 2, Enroll},
    {"revoke", 1, 1, Revoke},
    {"list", 0, 0, List},
    {"attempts", 0, 2, Attempts},
    {"prune", 0, 0, Prune},
    {"check", 0, 0, Check},
    {"client", 1, 2, Client},
    {"probe", 1, 1, Probe},
    {"copy", 1, 1, Copy},
    {"sign-ins", 0, 4, ListSignIns},
    {"admin", 1, 2, ManageAdmins},
    {"oidc", 1, kMostOidcArguments, RunOidcCommand},
};

} // namespace

int RunSiteCommand(const std::vector<std::string>& args, CommandContext& context)
{
    std::string path;
    std::size_t next = 0;
    // Options before the command; those after it are the command's own.
    for (; next < args.size() && args[next].starts_with('-'); ++next) {
        if (args[next] == "-h" || args[next] == "--help") {
            context.out << kUsage << SettingsHelp();
            return kExitSuccess;
        }
        if (args[next] != "--db" || next + 1 == args.size())
            return Fail(context, kExitUsage, "unknown option '" + args[next].substr(0, 40) + "' (see --help)");
        path = args[++next];
    }
    if (next == args.size())
        return Fail(context, kExitUsage, "no command given (see --help)");
    const std::string& name = args[next];
    const Arguments rest(args.begin() + static_cast<std::ptrdiff_t>(next) + 1, args.end());
    if (name == "help") {
        context.out << kUsage << SettingsHelp();
        return kExitSuccess;
    }
    if (name == "settings") {
        if (!rest.empty())
            return Fail(context, kExitUsage, "settings takes no arguments");
        try {
            return ShowSettings(context);
        } catch (const SettingsError& error) {
            return Fail(context, kExitFailure, error.what());
        }
    }
    if (name == "verify") {
        if (rest.size() != 1)
            return Fail(context, kExitUsage, "verify takes one string or URL (see --help)");
        return Verify(context, rest);
    }

    const auto* command =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return c.name == name; });
    if (command == std::end(kCommands))
        return Fail(context, kExitUsage, "'" + name.substr(0, 40) + "' is not a command (see --help)");
    if (rest.size() < command->minArguments || rest.size() > command->maxArguments)
        return Fail(context, kExitUsage, "wrong number of arguments for " + name + " (see --help)");
    try {
        if (path.empty())
            path = context.readSettings().Text(kDatabaseSetting);
        return command->run(context, path, rest);
    } catch (const SettingsError& error) {
        return Fail(context, kExitUsage, error.what());
    } catch (const StoreError& error) {
        return Fail(context, kExitFailure, error.what());
    }
}
