#pragma once
// What the browser received at a logon: the access URL with the 64-character authenticator
// appended and nothing else.
#include <optional>
#include <string>
#include <string_view>

namespace uidriver {

inline constexpr std::size_t kAuthenticatorLength = 64;

// The authenticator when url is exactly accessUrl followed by 64 characters 0-9/A-F;
// otherwise none.
std::optional<std::string> AuthenticatorIn(std::string_view url, std::string_view accessUrl);

// The URL a recording browser was started with: the one argument after the program name of
// its logged command line; none when the line holds no argument or more than one.
std::optional<std::string> UrlFromBrowserCommandLine(std::string_view commandLine);

} // namespace uidriver
