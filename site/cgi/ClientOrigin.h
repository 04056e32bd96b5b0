#pragma once
// Who a request comes from, as the failure budgets count it. Behind a reverse proxy every
// request comes from the proxy's address; only a proxy the operator trusts may say whom it
// forwards for, and only its own addition to X-Forwarded-For counts.
#include "site/store/SiteStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct IpAddress {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{}; // IPv4 in the first four
};

// Dotted IPv4 or IPv6 text (an IPv4-mapped IPv6 address is IPv4); a port or brackets as
// proxies sometimes add them are allowed.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

class ProxyList {
public:
    // Addresses and CIDR ranges, comma-separated, IPv4 and IPv6; blanks around entries are
    // ignored. Nothing, with the first bad entry in problem, when any entry is not one.
    static std::optional<ProxyList> Parse(std::string_view text, std::string& problem);

    bool Contains(const IpAddress& address) const;
    bool Empty() const { return m_ranges.empty(); }

private:
    struct Range {
        IpAddress base;
        int prefix = 0;
    };
    std::vector<Range> m_ranges;
};

// The client's address: the immediate peer, or, when the peer is a trusted proxy, the
// right-most address in forwardedFor that is not itself a trusted proxy.
std::string ClientAddress(std::string_view peer, std::string_view forwardedFor, const ProxyList& proxies);

// The address with its networks, for the budgets. Text that is not an address keeps a budget of
// its own and shares one network with all such text.
Origin OriginOf(std::string_view address);
