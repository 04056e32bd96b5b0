#pragma once
// A header of the login page's answer, as the tests of its road read it.
#include "site/cgi/Exchange.h"

#include <string>

// The first value of the named header, or "(none)".
inline std::string Header(const Response& response, const std::string& name)
{
    for (const auto& [key, value] : response.headers) {
        if (key == name)
            return value;
    }
    return "(none)";
}
