#include "site/command/OidcCommand.h"

#include "site/command/AccountName.h"
#include "site/oidc/RsaKey.h"
#include "site/oidc/Secrets.h"
#include "site/oidc/Uri.h"
#include "site/store/OpenStore.h"

#include <algorithm>

namespace {

constexpr std::string_view kPublicOption = "--public";

int Refuse(CommandContext& context, int status, const std::string& message)
{
    context.err << "entravo-site: " << message << '\n';
    return status;
}

// A new signing key, made from the operating system's generator.
std::optional<ProviderKey> MadeKey(int64_t now)
{
    const auto pair = RsaKeyPair::Generate();
    if (!pair)
        return std::nullopt;
    return ProviderKey{pair->Public().Kid(), pair->Stored(), now, std::nullopt};
}

std::string SigningKid(OperatorStore& store)
{
    const ProviderKeys keys = store.ReadProviderKeys();
    return keys.keys.empty() || keys.keys.front().retiredAt ? "-" : keys.keys.front().kid;
}

// The keys the provider would otherwise make at its first request: the subject key and the
// first signing key, each only when there is none.
int Init(CommandContext& context, const std::string& path)
{
    const auto subject = DrawSubjectKey();
    const auto key = MadeKey(context.now);
    if (!subject || !key)
        return Refuse(context, kExitFailure, "the operating system gave no random bits");
    const auto store = OpenStore(path);
    store->StartProvider(*subject, *key);
    context.out << "signing key " << SigningKid(*store) << '\n';
    return kExitSuccess;
}

int Rotate(CommandContext& context, const std::string& path)
{
    const auto key = MadeKey(context.now);
    if (!key)
        return Refuse(context, kExitFailure, "the operating system gave no random bits");
    const auto store = OpenStore(path);
    const std::string old = SigningKid(*store);
    store->RotateProviderKey(*key, context.now);
    context.out << "signing key " << key->kid << "; " << old << " is published while its ID tokens live\n";
    return kExitSuccess;
}

int Add(CommandContext& context, const std::string& path, std::vector<std::string> args)
{
    const auto option = std::find(args.begin(), args.end(), kPublicOption);
    const bool isPublic = option != args.end();
    if (isPublic)
        args.erase(option);
    if (args.size() < 2)
        return Refuse(context, kExitUsage, "oidc add takes a name and at least one redirect URI (see --help)");
    if (!IsValidAccount(args[0]))
        return Refuse(context, kExitUsage, "an application's name follows the rules of an account name (see --help)");
    const std::vector<std::string> uris(args.begin() + 1, args.end());
    for (const std::string& uri : uris) {
        if (const std::string problem = RedirectUriProblem(uri); !problem.empty())
            return Refuse(context, kExitUsage, problem + ": " + uri.substr(0, 80));
    }
    const auto id = DrawSecret(kClientIdBytes);
    const auto secret = DrawSecret();
    if (!id || !secret)
        return Refuse(context, kExitFailure, "the operating system gave no random bits");
    OpenStore(path)->AddProviderClient(
        {*id, args[0], uris, isPublic ? std::nullopt : std::optional(HashSecret(*secret)), context.now});
    context.out << *id << (isPublic ? "" : " " + *secret) << '\n';
    return kExitSuccess;
}

// One line per application, then its redirect URIs, each on a line of its own.
int List(CommandContext& context, const std::string& path)
{
    for (const ProviderClient& client : OpenStore(path)->ProviderClients()) {
        context.out << client.id << (client.secretHash ? " confidential " : " public ") << UtcText(client.addedAt)
                    << ' ' << client.name << '\n';
        for (const std::string& uri : client.redirectUris)
            context.out << "  " << uri << '\n';
    }
    return kExitSuccess;
}

int Remove(CommandContext& context, const std::string& path, const std::string& id)
{
    if (!OpenStore(path)->RemoveProviderClient(id))
        return Refuse(context, kExitFailure, "there is no OpenID Connect client " + id.substr(0, 40));
    return kExitSuccess;
}

} // namespace

int RunOidcCommand(CommandContext& context, const std::string& path, const std::vector<std::string>& args)
{
    const std::string& action = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (action == "init" && rest.empty())
        return Init(context, path);
    if (action == "rotate" && rest.empty())
        return Rotate(context, path);
    if (action == "add")
        return Add(context, path, rest);
    if (action == "list" && rest.empty())
        return List(context, path);
    if (action == "remove" && rest.size() == 1)
        return Remove(context, path, rest[0]);
    return Refuse(
        context, kExitUsage,
        "oidc takes: init, rotate, add [--public] NAME REDIRECT_URI..., list or remove CLIENT_ID (see --help)");
}
