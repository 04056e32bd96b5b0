#pragma once
// Addresses and CIDR ranges as settings and proxies write them. The settings check a list of
// trusted proxies with it when they are read; the login page decides with it whom a request
// comes from (site/cgi/ClientOrigin.h).
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

// Canonical text: dotted IPv4, compressed lower-case IPv6.
std::string FormatIpAddress(const IpAddress& address);

// The address with every bit from prefix on cleared.
IpAddress MaskedAddress(IpAddress address, int prefix);

// The entries of a comma-separated list, blanks around each removed.
std::vector<std::string_view> SplitList(std::string_view text);

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
