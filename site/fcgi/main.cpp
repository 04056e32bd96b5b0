// login.fcgi: the login page as a long-lived FastCGI program. The web server (or spawn-fcgi)
// starts it with the listening socket as its standard input; it answers request after request
// through Respond and keeps one store connection, with its prepared statements, from one
// request to the next. A connection that failed is dropped and the next request opens a new
// one, so the process rides out a database restart; a request that throws is answered and the
// loop goes on.
#include "site/cgi/Respond.h"
#include "site/store/OpenStore.h"

#include <fcgiapp.h>

#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <string>

namespace {

constexpr char kStoreVariable[] = "ENTRAVO_SITE_DB";

std::string Parameter(const char* name, FCGX_ParamArray parameters)
{
    const char* value = FCGX_GetParam(name, parameters);
    return value ? value : "";
}

Request RequestFromParameters(FCGX_ParamArray parameters)
{
    Request request;
    request.method = Parameter("REQUEST_METHOD", parameters);
    request.query = Parameter("QUERY_STRING", parameters);
    request.remoteAddress = Parameter("REMOTE_ADDR", parameters);
    request.cookies = Parameter("HTTP_COOKIE", parameters);
    request.secure = Parameter("HTTPS", parameters) == "on";
    request.scriptPath = Parameter("SCRIPT_NAME", parameters);
    request.now = static_cast<int64_t>(std::time(nullptr));
    return request;
}

// The store this process keeps open, for the address it was opened with.
class KeptStore {
public:
    SiteStore& For(const std::string& address)
    {
        if (!m_store || address != m_address) {
            m_store.reset();
            m_store = OpenSiteStore(address);
            m_address = address;
        }
        return *m_store;
    }
    // After a failure the connection may be gone or in an unknown state: start again.
    void Drop() { m_store.reset(); }

private:
    std::string m_address;
    std::unique_ptr<SiteStore> m_store;
};

Response Answer(Request request, const std::string& address, KeptStore& kept)
{
    if (address.empty())
        return Unavailable(std::string(kStoreVariable) + " does not name the site's store");
    const auto token = DrawSessionToken();
    if (!token)
        return Unavailable("the operating system gave no random bits");
    request.newSession = *token;
    try {
        Response response = Respond(request, kept.For(address));
        if (response.status >= 500)
            kept.Drop();
        return response;
    } catch (const StoreError& error) {
        kept.Drop();
        return Unavailable(error.what());
    } catch (const std::exception& error) {
        kept.Drop();
        return Unavailable(std::string("unexpected failure: ") + error.what());
    }
}

void Serve(FCGX_Request& exchange, const std::string& startAddress, KeptStore& kept)
{
    // The web server's parameters win over the environment the process was started with.
    std::string address = Parameter(kStoreVariable, exchange.envp);
    if (address.empty())
        address = startAddress;
    const Response response = Answer(RequestFromParameters(exchange.envp), address, kept);
    if (!response.log.empty())
        FCGX_FPrintF(exchange.err, "login.fcgi: %s\n", response.log.c_str());
    const std::string text = CgiText(response);
    FCGX_PutStr(text.data(), static_cast<int>(text.size()), exchange.out);
}

} // namespace

int main()
{
    if (FCGX_Init() != 0)
        return 1;
    FCGX_Request exchange;
    if (FCGX_InitRequest(&exchange, 0, 0) != 0)
        return 1;
    const char* fromEnvironment = std::getenv(kStoreVariable);
    const std::string startAddress = fromEnvironment ? fromEnvironment : "";
    KeptStore kept;
    while (FCGX_Accept_r(&exchange) >= 0) {
        Serve(exchange, startAddress, kept);
        FCGX_Finish_r(&exchange);
    }
    return 0;
}
