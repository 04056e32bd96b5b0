#pragma once
// An answer of the provider's JSON endpoints, for the login page to send as it is.
#include <string>
#include <utility>
#include <vector>

struct JsonAnswer {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// An answer that holds tokens or says why there are none: no cache may keep it.
JsonAnswer PrivateAnswer(int status, std::string body);

// A document the same for everyone (discovery, the JWKS): caches ask again each time, so that
// a rotated key is seen at once.
JsonAnswer PublicAnswer(std::string body);
