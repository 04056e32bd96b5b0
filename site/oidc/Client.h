#pragma once
// An application registered with the provider by the operator.
#include "site/oidc/Secrets.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RegisteredClient {
    std::string id;
    std::vector<std::string> redirectUris; // compared byte for byte, never normalised
    // Nothing for a public client: it has no secret, so it must prove itself with PKCE.
    std::optional<SecretHash> secretHash;

    bool IsPublic() const { return !secretHash; }
};

// Answers nothing for a client that is not registered.
using ClientLookup = std::function<std::optional<RegisteredClient>(std::string_view clientId)>;
