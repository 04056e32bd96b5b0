#include "tests/support/uidriver/LogonUrl.h"

#include "tests/support/uidriver/CommandLine.h"

#include <algorithm>

namespace uidriver {

std::optional<std::string> AuthenticatorIn(std::string_view url, std::string_view accessUrl)
{
    if (url.size() != accessUrl.size() + kAuthenticatorLength || url.substr(0, accessUrl.size()) != accessUrl)
        return std::nullopt;
    const auto tail = url.substr(accessUrl.size());
    const bool upperHex =
        std::all_of(tail.begin(), tail.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
    if (!upperHex)
        return std::nullopt;
    return std::string(tail);
}

std::optional<std::string> UrlFromBrowserCommandLine(std::string_view commandLine)
{
    auto words = SplitCommandLine(commandLine);
    if (words.size() != 2)
        return std::nullopt;
    return std::move(words[1]);
}

} // namespace uidriver
