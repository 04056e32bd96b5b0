#include "tools/authdecode/AuthDecode.h"

#include "logon/Authenticator.h"
#include "logon/AuthenticatorText.h"

#include <algorithm>

namespace {

// Keeps the error on one printable line whatever the input held.
std::string Describe(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code >= 0x20 && code < 0x7F)
        return std::string("'") + c + "'";
    return "byte \\x" + FormatHexBytes(std::span(&code, 1));
}

AuthDecodeOutcome Failure(std::string reason)
{
    return {false, std::move(reason)};
}

} // namespace

AuthDecodeOutcome DecodeAuthenticatorInput(std::string_view input)
{
    const std::string_view text = TrimBlanks(input);
    if (text.empty())
        return Failure("no input: give an authenticator or a logon URL ending in one");
    if (text.size() < kAuthenticatorLength)
        return Failure("too short: an authenticator has 64 hexadecimal characters, the input has " +
                       std::to_string(text.size()) + " characters");

    // In the usual URL the authenticator is everything after the last '='. A run of hex digits
    // there of another length is a damaged authenticator, not one with a hex-looking prefix.
    const auto equals = text.rfind('=');
    if (equals != std::string_view::npos) {
        const std::string_view query = text.substr(equals + 1);
        if (std::all_of(query.begin(), query.end(), IsHexDigit) && query.size() != kAuthenticatorLength)
            return Failure("expected 64 hexadecimal characters after the last '=', found " +
                           std::to_string(query.size()));
    }

    const std::size_t start = text.size() - kAuthenticatorLength;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (!IsHexDigit(text[i]))
            return Failure("not an authenticator: the input must end in 64 hexadecimal characters, but character " +
                           std::to_string(i + 1) + " is " + Describe(text[i]));
    }

    const auto rom = DecodeAuthenticator(*NormalizedAuthenticator(text.substr(start)));
    if (!rom)
        return Failure("not a valid authenticator: its key is not a positive number");
    return {true, FormatHexBytes(*rom)};
}
