#pragma once
// Tells an authenticator the agent really produced from one made by hand, by chance or by
// damage. The authenticator holds no secret, so this raises the bar for forgery but is not
// cryptography: whoever knows the encoding can make a genuine string for any identity.
//
// A genuine string is exactly what encoding its identity with its seed (the client's tick
// count) gives. The seed is recovered from the generator's bytes that stay visible in the
// string, the string is made again from (identity, seed) and both are compared.
#include "logon/Authenticator.h"

#include <cstdint>
#include <optional>
#include <string_view>

enum class Verdict { Genuine, NotGenuine, Malformed };

struct Verification {
    Verdict verdict = Verdict::Malformed;
    // Whenever the string decodes, genuine or not.
    std::optional<RomBytes> identity;
    // Genuine only: the tick count the client encoded with, modulo 2^31 (its top bit never
    // shows). With the identity it names the string exactly.
    uint32_t seed = 0;
};

// text is exactly the 64 characters as the agent wrote them (upper-case); anything that is
// not 64 hexadecimal characters is malformed.
Verification VerifyAuthenticator(std::string_view text);
