#include "site/cgi/ClientOrigin.h"

#include <gtest/gtest.h>

namespace {

ProxyList Proxies(std::string_view text)
{
    std::string problem;
    const auto list = ProxyList::Parse(text, problem);
    EXPECT_TRUE(list) << problem;
    return list.value_or(ProxyList{});
}

} // namespace

TEST(ClientOrigin, AddressesAreReadInTheFormsProxiesWriteThem)
{
    for (const char* text : {"192.0.2.7", "192.0.2.7:8080", "::ffff:192.0.2.7", "[::ffff:192.0.2.7]:1"})
        EXPECT_EQ("192.0.2.7", OriginOf(text).address) << text;
    EXPECT_EQ("2001:db8::1", OriginOf("[2001:DB8:0::1]:443").address);
    for (const char* text :
         {"", "unknown", "192.0.2", "192.0.2.7.1", "2001:db8::1:443x", "[2001:db8::1", "1.2.3.4:5:6"})
        EXPECT_FALSE(ParseIpAddress(text)) << text;
}

TEST(ClientOrigin, NetworksAreTheSlash24AndForIpv6TheSlash64AndSlash48)
{
    const Origin four = OriginOf("198.51.100.77");
    EXPECT_EQ("198.51.100.0/24", four.network);
    EXPECT_EQ("", four.wideNetwork);
    const Origin six = OriginOf("2001:db8:aaaa:bbbb:1:2:3:4");
    EXPECT_EQ("2001:db8:aaaa:bbbb::/64", six.network);
    EXPECT_EQ("2001:db8:aaaa::/48", six.wideNetwork);
    // Text that is not an address gets a budget of its own inside one shared network.
    const Origin odd = OriginOf(std::string(200, 'x'));
    EXPECT_EQ(64u, odd.address.size());
    EXPECT_EQ(OriginOf("unix:/run/socket").network, odd.network);
}

TEST(ClientOrigin, OnlyATrustedPeerSaysWhomItForwardsFor)
{
    const ProxyList none;
    EXPECT_EQ("203.0.113.9", ClientAddress("203.0.113.9", "192.0.2.1", none));

    const ProxyList proxies = Proxies(" 10.0.0.0/8, ::1 ,2001:db8:f::/48");
    EXPECT_EQ("192.0.2.1", ClientAddress("10.1.2.3", "192.0.2.1", proxies));
    EXPECT_EQ("192.0.2.1", ClientAddress("::1", "192.0.2.1", proxies));
    // What the client wrote itself stands left of what the proxies added.
    EXPECT_EQ("192.0.2.1", ClientAddress("10.1.2.3", "6.6.6.6, 192.0.2.1, 10.9.9.9", proxies));
    EXPECT_EQ("2001:db8::5", ClientAddress("2001:db8:f::1", "2001:db8::5", proxies));
    // Not trusted: the header is ignored.
    EXPECT_EQ("192.0.2.50", ClientAddress("192.0.2.50", "6.6.6.6", proxies));
    // No header, or only trusted hops, or a hop that is not an address.
    EXPECT_EQ("10.1.2.3", ClientAddress("10.1.2.3", "", proxies));
    EXPECT_EQ("10.0.0.1", ClientAddress("10.1.2.3", "10.0.0.1", proxies));
    EXPECT_EQ("10.0.0.1", ClientAddress("10.1.2.3", "6.6.6.6, junk, 10.0.0.1", proxies));
}

TEST(ClientOrigin, ABadProxyEntryIsNamed)
{
    for (const char* text : {"10.0.0.0/33", "::1/129", "10.0.0.0/", "10.0.0.0/8x", "proxy.example", "10.0.0.1,,"}) {
        std::string problem;
        EXPECT_FALSE(ProxyList::Parse(text, problem)) << text;
        EXPECT_NE(std::string::npos, problem.find("is not an address or CIDR range")) << problem;
    }
    EXPECT_TRUE(Proxies("").Empty());
    EXPECT_TRUE(Proxies("192.0.2.0/24").Contains(*ParseIpAddress("192.0.2.255")));
    EXPECT_FALSE(Proxies("192.0.2.0/24").Contains(*ParseIpAddress("192.0.3.0")));
    EXPECT_FALSE(Proxies("::/0").Contains(*ParseIpAddress("192.0.2.1")));
}
