#include "site/cgi/ClientOrigin.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kMaxAddressText = 64;

std::string NetworkOf(const IpAddress& address, int prefix)
{
    return FormatIpAddress(MaskedAddress(address, prefix)) + "/" + std::to_string(prefix);
}

bool TrustedPeer(std::string_view peer, const ProxyList& proxies)
{
    const auto address = ParseIpAddress(peer);
    return address && proxies.Contains(*address);
}

} // namespace

std::string ClientAddress(std::string_view peer, std::string_view forwardedFor, const ProxyList& proxies)
{
    const auto peerAddress = ParseIpAddress(peer);
    const auto hops = SplitList(forwardedFor);
    if (!peerAddress || !proxies.Contains(*peerAddress) || (hops.size() == 1 && hops[0].empty()))
        return std::string(peer.substr(0, kMaxAddressText));
    // Right to left: each hop was added by the trusted one after it. A hop that is not an
    // address means a proxy that passes on what it was told; trust stops at the last good hop.
    IpAddress last = *peerAddress;
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const auto address = ParseIpAddress(*hop);
        if (!address)
            break;
        last = *address;
        if (!proxies.Contains(*address))
            break;
    }
    return FormatIpAddress(last);
}

bool ForwardedOverHttps(std::string_view peer, std::string_view forwardedProto, const ProxyList& proxies)
{
    const std::string_view first = SplitList(forwardedProto).front();
    const bool https = first.size() == 5 && std::equal(first.begin(), first.end(), "https", [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a)) == b;
                       });
    return https && TrustedPeer(peer, proxies);
}

Origin OriginOf(std::string_view text)
{
    const auto address = ParseIpAddress(text);
    if (!address)
        return {std::string(text.substr(0, kMaxAddressText)), std::string(kNotAnAddressNetwork), {}};
    if (!address->v6)
        return {FormatIpAddress(*address), NetworkOf(*address, 24), {}};
    return {FormatIpAddress(*address), NetworkOf(*address, 64), NetworkOf(*address, 48)};
}
