#pragma once
// What login.cgi and a long-lived login program share: one request read from the web server's
// parameters, the store it names, and the answer as a CGI-style text.
#include "site/cgi/Respond.h"
#include "site/settings/Settings.h"

#include <functional>
#include <memory>
#include <string>

// A request parameter by its CGI name (REQUEST_METHOD, HTTP_COOKIE ...), or nullptr.
using ParameterLookup = std::function<const char*(const char*)>;

// Where the front end gets its store for the address a request names.
class StoreSource {
public:
    virtual ~StoreSource() = default;
    // StoreError when it cannot be had.
    virtual SiteStore& StoreFor(const std::string& address) = 0;
    // The store failed: the next request starts from a fresh one.
    virtual void Forget() = 0;
};

// A store opened for each request, as a process that serves one request needs.
class FreshStoreSource final : public StoreSource {
public:
    SiteStore& StoreFor(const std::string& address) override;
    void Forget() override { m_store.reset(); }

private:
    std::unique_ptr<SiteStore> m_store;
};

// One request, start to end, under the settings that hold for it (checked already): fresh
// random bits, the store, the answer.
Response Serve(const ParameterLookup& parameter, const Settings& settings, StoreSource& stores, int64_t now);
