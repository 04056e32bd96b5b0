// login.fcgi: the login page as a long-lived FastCGI program. The web server, spawn-fcgi or the
// entravo-site service starts it with the listening socket as its standard input; its threads
// answer request after request through the same Serve as login.cgi, each keeping one store
// connection, with its prepared statements, from one request to the next. Several threads let
// one process search and answer while another waits for the disk or the database, and let
// durable commits share a sync. A store that failed is dropped and the thread's next request
// opens a new one, so the process rides out a database restart; a request that throws is
// answered and the loop goes on.
//
// What it counts that leaves no record in the store it adds to the store in a batch every few
// seconds and once more when it ends; the time it takes to answer each request it keeps for the
// metrics.
//
// Its settings are read and checked once, when it starts: a bad one stops it there, with one
// line naming it. It ends when told (SIGTERM, SIGINT or SIGHUP, as web servers and service
// managers send them; SIGUSR1), idle or not: it takes no new request, answers those under way, closes
// its store connections and exits 0, so that a reload or a stop never leaves it behind.
#include "site/cgi/Gateway.h"
#include "site/cgi/ProcessCounts.h"
#include "site/cgi/OidcProvider.h"
#include "site/store/OpenStore.h"

#include <fastcgi.h>
#include <fcgiapp.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// sysexits' EX_CONFIG: the service's unit does not start it again for this.
constexpr int kExitBadSetting = 78;
// How often the process adds its counts to the store: one small write in this long for all of
// its requests, and a scrape of the metrics shows the other processes' counts this late at most.
constexpr int kCountsEverySeconds = 5;

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

// The process's end as its threads see it: a signal every wait for the next request watches,
// given once and for good, so that no thread can miss it whatever it was doing at the time.
class Ending {
public:
    Ending() : m_event(eventfd(0, EFD_CLOEXEC)) {}
    ~Ending() { close(m_event); }
    Ending(const Ending&) = delete;
    Ending& operator=(const Ending&) = delete;

    bool Ready() const { return m_event >= 0; }
    int Descriptor() const { return m_event; }
    void Begin() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_event, &one, sizeof one);
    }
    // A thread cannot take requests: the process ends as if told to, and says why.
    void Fail(const char* why)
    {
        // Standard error is the web server's error log, or the service's journal.
        std::fprintf(stderr, "login.fcgi: cannot take requests: %s\n", why);
        m_failed = true;
        kill(getpid(), SIGTERM);
    }
    bool Failed() const { return m_failed; }

private:
    int m_event;
    std::atomic<bool> m_failed{false};
};

enum class Wait { Request, End, Failure };

// The next request, or the process's end. One thread at a time waits, as libfcgi asks of
// threads that share a socket; the listening socket does not block (see Run), so a connection
// another process took first sends this thread back to waiting.
Wait NextRequest(FCGX_Request& exchange, const Ending& ending, std::mutex& turn)
{
    const std::lock_guard waiting(turn);
    for (;;) {
        pollfd watched[] = {{FCGI_LISTENSOCK_FILENO, POLLIN, 0}, {ending.Descriptor(), POLLIN, 0}};
        if (poll(watched, 2, -1) < 0 && errno != EINTR)
            return Wait::Failure;
        if (watched[1].revents != 0)
            return Wait::End;
        const int accepted = FCGX_Accept_r(&exchange);
        if (accepted >= 0)
            return Wait::Request;
        if (accepted != -EAGAIN && accepted != -EWOULDBLOCK)
            return Wait::Failure;
    }
}

Response Answer(const FCGX_Request& exchange, const Settings& settings, StoreSource& stores)
{
    // lighttpd's mod_fastcgi and Apache's mod_authnz_fcgi ask an authorizer about the request
    // they are about to serve.
    const Role role = exchange.role == FCGI_AUTHORIZER ? Role::Authorizer : Role::Responder;
    const ParameterLookup parameter = [&](const char* name) { return FCGX_GetParam(name, exchange.envp); };
    const BodyReader body = [&](std::size_t length) {
        std::string text(length, '\0');
        text.resize(
            static_cast<std::size_t>(std::max(0, FCGX_GetStr(text.data(), static_cast<int>(length), exchange.in))));
        return text;
    };
    try {
        return Serve(parameter, body, settings.ForRequest(exchange.envp), stores,
                     static_cast<int64_t>(std::time(nullptr)), role);
    } catch (const SettingsError& error) {
        return Unavailable(error.what());
    }
}

void AnswerRequests(const Settings& settings, Ending& ending, std::mutex& turn, LatencyHistogram& answerTimes)
{
    FCGX_Request exchange;
    KeptStoreSource stores;
    // Before the first request, so that a server's first visitors do not wait for every thread
    // to connect at once.
    OpenAhead(settings, stores);
    if (FCGX_InitRequest(&exchange, FCGI_LISTENSOCK_FILENO, 0) != 0) {
        ending.Fail("libfcgi could not make a request");
        return;
    }
    Wait next;
    while ((next = NextRequest(exchange, ending, turn)) == Wait::Request) {
        const auto start = std::chrono::steady_clock::now();
        const Response response = Answer(exchange, settings, stores);
        if (!response.log.empty())
            FCGX_FPrintF(exchange.err, "login.fcgi: %s\n", response.log.c_str());
        const std::string text = CgiText(response);
        FCGX_PutStr(text.data(), static_cast<int>(text.size()), exchange.out);
        // Before the answer goes: a scrape that follows it finds it counted.
        answerTimes.Observe(std::chrono::steady_clock::now() - start);
        FCGX_Finish_r(&exchange);
        WriteCountsWhenDue(settings, stores, static_cast<int64_t>(std::time(nullptr)), kCountsEverySeconds);
    }
    if (next == Wait::Failure)
        ending.Fail(std::strerror(errno));
    WriteCountsWhenDue(settings, stores, static_cast<int64_t>(std::time(nullptr)), 0);
}

sigset_t EndSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    // SIGUSR1 is libfcgi's own word for it.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&signals, signal);
    return signals;
}

int Run(const Settings& settings)
{
    if (FCGX_Init() != 0 || FCGX_IsCGI()) {
        std::fprintf(stderr, "login.fcgi: standard input is not a listening socket; the web server, spawn-fcgi or"
                             " the entravo-site service starts it with one\n");
        return 1;
    }
    // A connection another process of the same socket took first must not leave a thread
    // blocked in accept, where the end could not reach it.
    fcntl(FCGI_LISTENSOCK_FILENO, F_SETFL, fcntl(FCGI_LISTENSOCK_FILENO, F_GETFL) | O_NONBLOCK);
    // Blocked before any thread starts, so in all of them: only the wait below takes them.
    const sigset_t ends = EndSignals();
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
    Ending ending;
    if (!ending.Ready()) {
        std::fprintf(stderr, "login.fcgi: %s\n", std::strerror(errno));
        return 1;
    }
    std::mutex turn;
    LatencyHistogram answerTimes;
    KeepAnswerTimes(&answerTimes);
    std::vector<std::jthread> threads;
    for (int i = 0; i < settings.Count(kThreadsSetting); ++i)
        threads.emplace_back(AnswerRequests, std::cref(settings), std::ref(ending), std::ref(turn),
                             std::ref(answerTimes));
    int signal = 0;
    sigwait(&ends, &signal);
    ending.Begin();
    threads.clear(); // each finishes the request it is answering, then ends
    KeepAnswerTimes(nullptr);
    return ending.Failed() ? 1 : 0;
}

} // namespace

int main()
{
    try {
        const Settings settings = Settings::Read(environ);
        if (const std::string problem = IssuerSettingProblem(settings); !problem.empty())
            throw SettingsError(problem);
        return Run(settings);
    } catch (const SettingsError& error) {
        std::fprintf(stderr, "login.fcgi: %s\n", error.what());
        return kExitBadSetting;
    }
}
