#include "site/settings/AddressRanges.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace {

constexpr std::size_t kMaxEntryText = 64;
constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<IpAddress> ParsePlain(std::string_view text)
{
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string terminated(text);
    IpAddress address;
    if (inet_pton(AF_INET, terminated.c_str(), address.bytes.data()) == 1)
        return address;
    if (inet_pton(AF_INET6, terminated.c_str(), address.bytes.data()) != 1)
        return std::nullopt;
    address.v6 = true;
    if (std::equal(std::begin(kMappedPrefix), std::end(kMappedPrefix), address.bytes.begin())) {
        std::copy_n(address.bytes.begin() + 12, 4, address.bytes.begin());
        std::fill(address.bytes.begin() + 4, address.bytes.end(), uint8_t{0});
        address.v6 = false;
    }
    return address;
}

} // namespace

std::optional<IpAddress> ParseIpAddress(std::string_view text)
{
    if (auto plain = ParsePlain(text))
        return plain;
    // "[2001:db8::1]:443" or "[2001:db8::1]"
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        const bool tail = close != std::string_view::npos && (close + 1 == text.size() || text[close + 1] == ':');
        return tail ? ParsePlain(text.substr(1, close - 1)) : std::nullopt;
    }
    // "192.0.2.7:443"
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        auto address = ParsePlain(text.substr(0, colon));
        if (address && !address->v6)
            return address;
    }
    return std::nullopt;
}

std::string FormatIpAddress(const IpAddress& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
    return text;
}

IpAddress MaskedAddress(IpAddress address, int prefix)
{
    for (int bit = prefix; bit < 128; ++bit)
        address.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
    return address;
}

std::vector<std::string_view> SplitList(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        parts.push_back(Trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

std::optional<ProxyList> ProxyList::Parse(std::string_view text, std::string& problem)
{
    ProxyList list;
    if (Trim(text).empty())
        return list;
    for (const std::string_view entry : SplitList(text)) {
        const std::size_t slash = entry.find('/');
        const auto address = ParsePlain(entry.substr(0, slash));
        const int widest = address && address->v6 ? 128 : 32;
        int prefix = widest;
        if (address && slash != std::string_view::npos) {
            const std::string_view digits = entry.substr(slash + 1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
            if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
                prefix = -1;
        }
        if (!address || prefix < 0 || prefix > widest) {
            problem = "'" + std::string(entry.substr(0, kMaxEntryText)) + "' is not an address or CIDR range";
            return std::nullopt;
        }
        list.m_ranges.push_back({MaskedAddress(*address, prefix), prefix});
    }
    return list;
}

bool ProxyList::Contains(const IpAddress& address) const
{
    return std::any_of(m_ranges.begin(), m_ranges.end(), [&](const Range& range) {
        return range.base.v6 == address.v6 && MaskedAddress(address, range.prefix).bytes == range.base.bytes;
    });
}
