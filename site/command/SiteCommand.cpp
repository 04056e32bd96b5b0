#include "site/command/SiteCommand.h"

#include "site/store/SiteDatabase.h"
#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/Identity.h"
#include "site/verifier/LogonInput.h"

#include <algorithm>
#include <ctime>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: entravo-site [--db PATH] COMMAND [ARGS]\n"
    "The site database is PATH, or else $ENTRAVO_SITE_DB.\n"
    "\n"
    "  init                     make the site database (an existing one is kept)\n"
    "  enroll IDENTITY ACCOUNT  let the token IDENTITY sign in as ACCOUNT\n"
    "  revoke IDENTITY          stop the token IDENTITY from signing in\n"
    "  list                     enrolled tokens: IDENTITY active|revoked ACCOUNT\n"
    "  attempts [N]             the last N sign-in attempts (default 20), newest\n"
    "                           first: TIME ADDRESS IDENTITY OUTCOME\n"
    "  verify STRING|URL        IDENTITY VERDICT SEED, without the database; exit\n"
    "                           status 0 genuine, 1 not genuine, 2 malformed\n"
    "\n"
    "IDENTITY is 16 hexadecimal digits, family code first, as authdecode prints it.\n"
    "Exit status 0 on success, 1 when refused or the database fails, 2 for bad usage.\n";

constexpr int kDefaultAttempts = 20;
constexpr int kMaxAttempts = 100000;

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

std::string UtcTime(int64_t at)
{
    const auto seconds = static_cast<std::time_t>(at);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

int Init(CommandContext& context, const std::string& path, const Arguments&)
{
    const InitResult result = SiteDatabase::Initialise(path);
    context.out << (result == InitResult::Created ? "created " + path : path + " is already a site database") << '\n';
    return kExitSuccess;
}

int Enroll(CommandContext& context, const std::string& path, const Arguments& args)
{
    const auto identity = IdentityArgument(context, args[0]);
    if (!identity)
        return kExitUsage;
    if (!IsValidAccount(args[1]))
        return Fail(context, kExitUsage,
                    "an account is 1 to " + std::to_string(kMaxAccountLength) + " bytes without control characters");
    SiteDatabase database = SiteDatabase::Open(path);
    if (database.Enroll(*identity, args[1], context.now) == EnrollResult::AlreadyEnrolled)
        return Fail(context, kExitFailure, FormatIdentity(*identity) + " is already enrolled (revoke it first)");
    return kExitSuccess;
}

int Revoke(CommandContext& context, const std::string& path, const Arguments& args)
{
    const auto identity = IdentityArgument(context, args[0]);
    if (!identity)
        return kExitUsage;
    SiteDatabase database = SiteDatabase::Open(path);
    if (database.Revoke(*identity, context.now) == RevokeResult::NotEnrolled)
        return Fail(context, kExitFailure, FormatIdentity(*identity) + " is not enrolled");
    return kExitSuccess;
}

int List(CommandContext& context, const std::string& path, const Arguments&)
{
    SiteDatabase database = SiteDatabase::Open(path);
    for (const TokenEntry& token : database.Tokens())
        context.out << token.identity << (token.revoked ? " revoked " : " active ") << token.account << '\n';
    return kExitSuccess;
}

int Attempts(CommandContext& context, const std::string& path, const Arguments& args)
{
    int count = kDefaultAttempts;
    if (!args.empty()) {
        const std::string& text = args[0];
        const bool digits = !text.empty() && text.size() <= 6 && std::all_of(text.begin(), text.end(), ::isdigit);
        count = digits ? std::stoi(text) : 0;
        if (count < 1 || count > kMaxAttempts)
            return Fail(context, kExitUsage, "N is a number from 1 to " + std::to_string(kMaxAttempts));
    }
    SiteDatabase database = SiteDatabase::Open(path);
    for (const AttemptEntry& attempt : database.RecentAttempts(count))
        context.out << UtcTime(attempt.at) << ' ' << attempt.address << ' ' << attempt.identity.value_or("-") << ' '
                    << attempt.outcome << '\n';
    return kExitSuccess;
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

struct Command {
    std::string_view name;
    std::size_t minArguments;
    std::size_t maxArguments;
    int (*run)(CommandContext&, const std::string& path, const Arguments&);
};

constexpr Command kCommands[] = {
    {"init", 0, 0, Init}, {"enroll", 2, 2, Enroll},     {"revoke", 1, 1, Revoke},
    {"list", 0, 0, List}, {"attempts", 0, 1, Attempts},
};

} // namespace

int RunSiteCommand(const std::vector<std::string>& args, CommandContext& context)
{
    std::string path = context.databaseFromEnvironment;
    std::size_t next = 0;
    for (; next < args.size() && args[next].starts_with('-'); ++next) {
        if (args[next] == "-h" || args[next] == "--help") {
            context.out << kUsage;
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
        context.out << kUsage;
        return kExitSuccess;
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
    if (path.empty())
        return Fail(context, kExitUsage, "no site database: give --db PATH or set ENTRAVO_SITE_DB");
    try {
        return command->run(context, path, rest);
    } catch (const StoreError& error) {
        return Fail(context, kExitFailure, error.what());
    }
}
