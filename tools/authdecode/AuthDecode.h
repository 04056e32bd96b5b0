#pragma once
// What authdecode does with one line of input, apart from reading and printing it.
#include <string>
#include <string_view>

struct AuthDecodeOutcome {
    bool decoded = false;
    // The 8 ROM bytes as 16 upper-case hexadecimal digits, family code first; or, when not
    // decoded, a one-line reason.
    std::string text;
};

// input is an authenticator or a whole logon URL ending in one; blanks around it are ignored.
AuthDecodeOutcome DecodeAuthenticatorInput(std::string_view input);
