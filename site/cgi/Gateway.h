#pragma once
// What login.cgi and login.fcgi share: one request read from the web server's parameters under
// the settings that hold for it, handed to the road (site/cgi/Respond.h), and the answer as a
// CGI-style text.
#include "site/cgi/Respond.h"
#include "site/settings/Settings.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// A request parameter by its CGI name (REQUEST_METHOD, HTTP_COOKIE ...), or nullptr.
using ParameterLookup = std::function<const char*(const char*)>;
// Up to length bytes of the request's body (fewer when the client sent fewer).
using BodyReader = std::function<std::string(std::size_t length)>;

// A store opened for the one request a process serves, when it first needs it.
class FreshStoreSource final : public StoreSource {
public:
    SiteStore& StoreFor(const std::string& address) override;
    void Forget() override { m_store.reset(); }

private:
    std::unique_ptr<SiteStore> m_store;
};

// One request, start to end, under the settings that hold for it (checked already): fresh
// random bits, the store, the answer. A POST's body is read when it is no longer than
// kMostBodyBytes (413 when it is). A failure nobody foresaw is a 500 with its text in the log,
// the store dropped.
Response Serve(const ParameterLookup& parameter, const BodyReader& body, const Settings& settings, StoreSource& stores,
               int64_t now, Role role = Role::Responder);

// The process's counts of what leaves no record (ProcessCounts.h) added to the store the
// settings name, when everySeconds have passed since this process last did (0: now): once
// per request for login.cgi, which ends with it; a batch every few seconds for login.fcgi. A
// store that fails is dropped, the counts kept for the next time.
void WriteCountsWhenDue(const Settings& settings, StoreSource& stores, int64_t now, int everySeconds);

// The store the settings name, opened before the first request comes so that a long-lived
// process's first visitors do not wait for it; one that is not there yet is left to the first
// request.
void OpenAhead(const Settings& settings, StoreSource& stores);
