#include "site/command/OperatorRecords.h"

#include "site/command/AccountName.h"
#include "site/store/OpenStore.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr int64_t kMaxDays = kSignInKeepDays;

int Fail(CommandContext& context, int status, const std::string& message)
{
    context.err << "entravo-site: " << message << '\n';
    return status;
}

std::optional<int64_t> Days(const std::string& text)
{
    const bool digits = !text.empty() && text.size() <= 3 && std::all_of(text.begin(), text.end(), ::isdigit);
    const int64_t days = digits ? std::stoll(text) : 0;
    return days >= 1 && days <= kMaxDays ? std::optional(days) : std::nullopt;
}

void Print(CommandContext& context, const SignInEntry& signIn)
{
    context.out << UtcText(signIn.at) << ' ' << signIn.identity << ' ' << signIn.address << ' '
                << SignInPathWord(signIn.path) << ' ' << signIn.account << '\n';
    if (signIn.earlier > 0)
        context.out << "  and " << signIn.earlier << " earlier that week through the same address and path,"
                    << " their times not kept\n";
}

// A valid account of anyone's, as the operator gives it.
std::optional<std::string> AccountArgument(CommandContext& context, const std::string& account)
{
    if (!IsValidAccount(account) || IsReservedAccount(account)) {
        Fail(context, kExitUsage, "'" + account.substr(0, 40) + "' is not an account (see --help)");
        return std::nullopt;
    }
    return account;
}

} // namespace

int ListSignIns(CommandContext& context, const std::string& path, const std::vector<std::string>& args)
{
    std::optional<std::string> account;
    int64_t days = 1;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (option != "--account" && option != "--days")
            return Fail(context, kExitUsage, "unknown option '" + option.substr(0, 40) + "' for sign-ins (see --help)");
        if (i + 1 == args.size())
            return Fail(context, kExitUsage, option + " takes a value (see --help)");
        if (option == "--account") {
            account = args[i + 1];
            continue;
        }
        const auto given = Days(args[i + 1]);
        if (!given)
            return Fail(context, kExitUsage, "--days is from 1 to " + std::to_string(kMaxDays));
        days = *given;
    }
    const auto store = OpenStore(path);
    for (const SignInEntry& signIn :
         store->SignIns(context.now - days * kSecondsPerDay, account, std::numeric_limits<int64_t>::max()))
        Print(context, signIn);
    return kExitSuccess;
}

int ManageAdmins(CommandContext& context, const std::string& path, const std::vector<std::string>& args)
{
    const std::string& action = args[0];
    if (action == "list" && args.size() == 1) {
        for (const AdminEntry& admin : OpenStore(path)->Admins())
            context.out << UtcText(admin.grantedAt) << ' ' << admin.account << '\n';
        return kExitSuccess;
    }
    if ((action != "grant" && action != "revoke") || args.size() != 2)
        return Fail(context, kExitUsage, "admin takes: grant ACCOUNT, revoke ACCOUNT or list (see --help)");
    const auto account = AccountArgument(context, args[1]);
    if (!account)
        return kExitUsage;
    const auto store = OpenStore(path);
    if (action == "revoke") {
        if (!store->RevokeAdmin(*account))
            return Fail(context, kExitFailure, *account + " was not granted the admin page");
        return kExitSuccess;
    }
    if (!store->GrantAdmin(*account, context.now))
        context.out << *account << " was already granted the admin page\n";
    const auto tokens = store->Tokens();
    if (std::none_of(tokens.begin(), tokens.end(),
                     [&](const TokenEntry& token) { return token.account == *account && !token.revoked; }))
        context.out << "no active token is enrolled for " << *account << " yet: it cannot sign in\n";
    return kExitSuccess;
}
