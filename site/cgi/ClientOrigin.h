#pragma once
// Who a request comes from, as the failure budgets count it, and how it reached the site.
// Behind a reverse proxy every request comes from the proxy's address; only a proxy the
// operator trusts may say whom it forwards for and whether the client came over HTTPS, and
// only its own addition to X-Forwarded-For counts.
#include "site/settings/AddressRanges.h"
#include "site/store/SiteStore.h"

#include <string>
#include <string_view>

// The client's address: the immediate peer, or, when the peer is a trusted proxy, the
// right-most address in forwardedFor that is not itself a trusted proxy.
std::string ClientAddress(std::string_view peer, std::string_view forwardedFor, const ProxyList& proxies);

// The client came over HTTPS to a trusted proxy that ended it: the peer is trusted and the
// first entry of its X-Forwarded-Proto (the one the first proxy wrote) is https.
bool ForwardedOverHttps(std::string_view peer, std::string_view forwardedProto, const ProxyList& proxies);

// The address with its networks, for the budgets. Text that is not an address keeps a budget of
// its own and shares one network with all such text.
Origin OriginOf(std::string_view address);
