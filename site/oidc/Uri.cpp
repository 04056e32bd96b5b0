#include "site/oidc/Uri.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace {

struct Authority {
    std::string_view host;
    std::string_view port;
};

bool IsLoopbackIpv4(std::string_view host)
{
    std::array<unsigned, 4> parts{};
    const char* at = host.data();
    const char* end = host.data() + host.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 && (at == end || *at++ != '.'))
            return false;
        const auto [next, error] = std::from_chars(at, end, parts[i]);
        if (error != std::errc() || next == at || parts[i] > 255)
            return false;
        at = next;
    }
    return at == end && parts[0] == 127;
}

bool IsLoopback(std::string_view host)
{
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower == "localhost" || lower == "[::1]" || IsLoopbackIpv4(lower);
}

bool IsHostCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '[' || c == ']' || c == ':';
}

// The host and port after "scheme://", up to the path; empty host when there is none worth the name.
Authority AuthorityOf(std::string_view rest)
{
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
    const std::size_t colon = authority.rfind(':');
    const bool hasPort = colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos;
    Authority parts{authority.substr(0, hasPort ? colon : authority.size()),
                    hasPort ? authority.substr(colon + 1) : ""};
    const bool bracketed = parts.host.starts_with('[') && parts.host.ends_with(']');
    const bool hostOk = !parts.host.empty() && std::all_of(parts.host.begin(), parts.host.end(), IsHostCharacter) &&
                        (bracketed || parts.host.find_first_of("[]:") == std::string_view::npos);
    const bool portOk = std::all_of(parts.port.begin(), parts.port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!hostOk || !portOk || (hasPort && parts.port.empty()))
        return {};
    return parts;
}

std::string AddressProblem(std::string_view uri, std::string_view what)
{
    if (uri.size() > kMaxUriLength)
        return std::string(what) + " is longer than " + std::to_string(kMaxUriLength) + " characters";
    if (!std::all_of(uri.begin(), uri.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
        return std::string(what) + " has a blank, a control character or a character that is not percent-encoded";
    if (uri.find('#') != std::string_view::npos)
        return std::string(what) + " has a fragment ('#')";
    const bool https = uri.starts_with("https://");
    if (!https && !uri.starts_with("http://"))
        return std::string(what) + " does not start with https:// (or http:// on a loopback host)";
    const std::string_view rest = uri.substr(https ? 8 : 7);
    const Authority authority = AuthorityOf(rest);
    if (authority.host.empty())
        return std::string(what) + " has no host, or one with a user name or characters a host cannot have";
    if (!https && !IsLoopback(authority.host))
        return std::string(what) + " uses http on a host that is not loopback (localhost, 127.0.0.0/8, [::1])";
    return "";
}

} // namespace

std::string RedirectUriProblem(std::string_view uri)
{
    return AddressProblem(uri, "the redirect URI");
}

std::string IssuerProblem(std::string_view issuer)
{
    std::string problem = AddressProblem(issuer, "the issuer");
    if (problem.empty() && issuer.find('?') != std::string_view::npos)
        problem = "the issuer has a query ('?')";
    if (problem.empty() && issuer.ends_with('/'))
        problem = "the issuer ends with '/'";
    return problem;
}

std::string WithParameters(std::string_view uri, const Form& fields)
{
    std::string text(uri);
    char separator = '?';
    if (uri.find('?') != std::string_view::npos)
        separator = uri.ends_with('?') || uri.ends_with('&') ? '\0' : '&';
    for (const FormField& field : fields) {
        if (separator != '\0')
            text += separator;
        text += FormEncoded(field.name) + "=" + FormEncoded(field.value);
        separator = '&';
    }
    return text;
}
