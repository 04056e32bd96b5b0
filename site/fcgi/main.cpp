// login.fcgi: the login page as a long-lived FastCGI program. The web server (or spawn-fcgi)
// starts it with the listening socket as its standard input; its threads answer request after
// request through the same Serve as login.cgi, each keeping one store connection, with its
// prepared statements, from one request to the next. Several threads let one process search
// and answer while another waits for the disk or the database, and let durable commits share
// a sync. A store that failed is dropped and the thread's next request opens a new one, so the
// process rides out a database restart; a request that throws is answered and the loop goes on.
#include "site/cgi/Gateway.h"
#include "site/store/OpenStore.h"

#include <fastcgi.h>
#include <fcgiapp.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr char kStoreVariable[] = "ENTRAVO_SITE_DB";
// Threads per process: ENTRAVO_SITE_THREADS, from 1 to kMostThreads; each holds a connection.
constexpr char kThreadsVariable[] = "ENTRAVO_SITE_THREADS";
constexpr int kDefaultThreads = 8;
constexpr int kMostThreads = 64;

// The store this process keeps open, for the address it was opened with.
class KeptStoreSource final : public StoreSource {
public:
    SiteStore& StoreFor(const std::string& address) override
    {
        if (!m_store || address != m_address) {
            m_store.reset();
            m_store = OpenStore(address, StoreUse::LongLived);
            m_address = address;
        }
        return *m_store;
    }
    void Forget() override { m_store.reset(); }

private:
    std::string m_address;
    std::unique_ptr<SiteStore> m_store;
};

Response Answer(const FCGX_Request& exchange, const char* startAddress, StoreSource& stores)
{
    // The web server's parameters come first; the store's address may also come from the
    // environment the process was started with (spawn-fcgi, mod_fastcgi's bin-environment).
    // As an authorizer (lighttpd's mod_fastcgi, Apache's mod_authnz_fcgi) the request is the
    // one the server is about to serve, whatever its path: the answer is the session check's.
    const bool authorizer = exchange.role == FCGI_AUTHORIZER;
    const ParameterLookup parameter = [&](const char* name) -> const char* {
        if (authorizer && std::string_view(name) == "PATH_INFO")
            return "/auth";
        const char* value = FCGX_GetParam(name, exchange.envp);
        if (!value && std::string_view(name) == kStoreVariable)
            return startAddress;
        return value;
    };
    try {
        return Serve(parameter, stores, static_cast<int64_t>(std::time(nullptr)));
    } catch (const std::exception& error) {
        stores.Forget();
        return Unavailable(std::string("unexpected failure: ") + error.what());
    }
}

int ThreadCount()
{
    const char* text = std::getenv(kThreadsVariable);
    if (!text)
        return kDefaultThreads;
    const std::string_view value(text);
    int count = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (error == std::errc() && end == value.data() + value.size() && count >= 1 && count <= kMostThreads)
        return count;
    // Standard error is the web server's error log.
    std::fprintf(stderr, "login.fcgi: %s is not a number from 1 to %d; %d threads answer\n", kThreadsVariable,
                 kMostThreads, kDefaultThreads);
    return kDefaultThreads;
}

void AnswerRequests(const char* startAddress, std::mutex& acceptTurn)
{
    FCGX_Request exchange;
    if (FCGX_InitRequest(&exchange, 0, 0) != 0)
        return;
    KeptStoreSource stores;
    // Connected before the first request comes, so that a server's first visitors do not wait
    // for every thread to connect at once; a store not there yet is opened by the first request.
    if (startAddress) {
        try {
            stores.StoreFor(startAddress);
        } catch (const std::exception&) {
            stores.Forget();
        }
    }
    for (;;) {
        {
            // One thread at a time waits in accept, as libfcgi asks of threads sharing a socket.
            const std::lock_guard turn(acceptTurn);
            if (FCGX_Accept_r(&exchange) < 0)
                return;
        }
        const Response response = Answer(exchange, startAddress, stores);
        if (!response.log.empty())
            FCGX_FPrintF(exchange.err, "login.fcgi: %s\n", response.log.c_str());
        const std::string text = CgiText(response);
        FCGX_PutStr(text.data(), static_cast<int>(text.size()), exchange.out);
        FCGX_Finish_r(&exchange);
    }
}

} // namespace

int main()
{
    if (FCGX_Init() != 0)
        return 1;
    const char* startAddress = std::getenv(kStoreVariable);
    std::mutex acceptTurn;
    std::vector<std::jthread> threads;
    const int count = ThreadCount();
    for (int i = 0; i < count; ++i)
        threads.emplace_back(AnswerRequests, startAddress, std::ref(acceptTurn));
    return 0;
}
