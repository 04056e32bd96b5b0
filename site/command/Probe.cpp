#include "site/command/Probe.h"

#include "logon/Authenticator.h"
#include "site/command/AccountName.h"
#include "site/command/SiteCommand.h"

#include <sys/random.h>

#include <stdexcept>
#include <string_view>

namespace {

constexpr std::string_view kSessionCookie = "entravo_session=";
constexpr int kEnrolTries = 4;

// A token enrolled for the probe alone, removed with every record of it when the probe ends.
class ThrowawayToken {
public:
    ThrowawayToken(OperatorStore& store, int64_t now) : m_store(store), m_now(now)
    {
        for (int attempt = 0; attempt < kEnrolTries; ++attempt) {
            if (getrandom(m_identity.data(), m_identity.size(), 0) != static_cast<ssize_t>(m_identity.size()))
                throw std::runtime_error("the operating system gave no random bits");
            if (m_store.Enroll(m_identity, kProbeAccount, now) == EnrollResult::Enrolled)
                return;
        }
        throw std::runtime_error("no free identity for the throwaway token");
    }
    ~ThrowawayToken()
    {
        try {
            Remove();
        } catch (const StoreError&) {
            // The operator sees it in `entravo-site list` under the probe's account.
        }
    }
    ThrowawayToken(const ThrowawayToken&) = delete;
    ThrowawayToken& operator=(const ThrowawayToken&) = delete;

    // A genuine string for this token, as the agent makes it at some tick.
    std::string MakeString() const
    {
        uint32_t tick = 0;
        if (getrandom(&tick, sizeof tick, 0) != sizeof tick)
            throw std::runtime_error("the operating system gave no random bits");
        RomRecord rom{};
        for (std::size_t i = 0; i < m_identity.size(); ++i)
            rom.cells[i] = m_identity[i];
        return EncodeAuthenticator(rom, tick);
    }

    void Remove()
    {
        if (m_removed)
            return;
        m_store.Revoke(m_identity, m_now);
        m_store.Forget(m_identity);
        m_removed = true;
    }

private:
    OperatorStore& m_store;
    int64_t m_now;
    RomBytes m_identity{};
    bool m_removed = false;
};

bool IsProgram(const HttpAnswer& answer)
{
    return answer.body.starts_with("\x7f"
                                   "ELF") ||
           answer.Header("content-type").value_or("").starts_with("application/octet-stream");
}

std::string Described(const HttpAnswer& answer)
{
    if (answer.status == 0)
        return answer.body;
    return std::to_string(answer.status) + (IsProgram(answer) ? " with a program's bytes" : "");
}

class Probe {
public:
    Probe(const HttpUrl& url, std::ostream& out) : m_url(url), m_out(out) {}

    // One request; an answer with status 0 holds in its body why none came.
    HttpAnswer Request(std::string_view method, std::string_view suffix, std::string_view cookie = "")
    {
        HttpAnswer answer;
        try {
            answer = Fetch(m_url, method, m_url.path + std::string(suffix), cookie);
        } catch (const std::runtime_error& error) {
            answer.body = error.what();
        }
        m_programSeen = m_programSeen || IsProgram(answer);
        return answer;
    }

    void Check(std::string_view what, bool passed, const std::string& found)
    {
        if (passed) {
            m_out << "ok: " << what << '\n';
            return;
        }
        m_out << "FAILED: " << what << ": " << found << '\n';
        m_failed = true;
    }

    void CheckStatus(std::string_view what, int expected, const HttpAnswer& answer)
    {
        Check(what, answer.status == expected, "expected " + std::to_string(expected) + ", got " + Described(answer));
    }

    bool ProgramSeen() const { return m_programSeen; }
    bool Failed() const { return m_failed; }

private:
    const HttpUrl& m_url;
    std::ostream& m_out;
    bool m_programSeen = false;
    bool m_failed = false;
};

// "entravo_session=...", the cookie a sign-in set, when it is one as the site sets it.
std::string SessionCookieOf(const HttpAnswer& answer)
{
    const std::string header = answer.Header("set-cookie").value_or("");
    const bool wellSet = header.starts_with(kSessionCookie) && header.find("; HttpOnly") != std::string::npos &&
                         header.find("; SameSite=Lax") != std::string::npos;
    return wellSet ? header.substr(0, header.find(';')) : "";
}

void SignInAndOut(Probe& probe, const ThrowawayToken& token, const HttpUrl& url)
{
    const std::string string = token.MakeString();
    const HttpAnswer signIn = probe.Request("GET", "?Authenticate=" + string);
    const std::string cookie = SessionCookieOf(signIn);
    probe.Check("a genuine string signs in: 303 to " + url.path + " with an HttpOnly session cookie",
                signIn.status == 303 && signIn.Header("location") == url.path && !cookie.empty(),
                Described(signIn) + ", Location " + signIn.Header("location").value_or("none") + ", Set-Cookie " +
                    signIn.Header("set-cookie").value_or("none"));

    const HttpAnswer welcome = probe.Request("GET", "", cookie);
    const std::string greeting = "Signed in as " + std::string(kProbeAccount);
    probe.Check("the welcome page greets the session: 200, \"" + greeting + "\"",
                welcome.status == 200 && welcome.body.find(greeting) != std::string::npos, Described(welcome));
    probe.CheckStatus("the welcome page without the session: 401", 401, probe.Request("GET", ""));

    const HttpAnswer check = probe.Request("GET", "/auth", cookie);
    probe.Check("the session check passes the session: 200, X-Entravo-Account: " + std::string(kProbeAccount),
                check.status == 200 && check.Header("x-entravo-account") == kProbeAccount,
                Described(check) + ", X-Entravo-Account " + check.Header("x-entravo-account").value_or("none"));
    probe.CheckStatus("the session check without the session: 401", 401, probe.Request("GET", "/auth"));
    probe.CheckStatus("the same string again: 409", 409, probe.Request("GET", "?Authenticate=" + string));
    probe.Request("GET", "/verify");

    probe.CheckStatus("signing out: 303", 303, probe.Request("POST", "", cookie));
    probe.CheckStatus("the session check after signing out: 401", 401, probe.Request("GET", "/auth", cookie));
}

} // namespace

int RunProbe(OperatorStore& store, const HttpUrl& url, std::ostream& out, int64_t now)
{
    Probe probe(url, out);
    ThrowawayToken token(store, now);
    probe.Check("enrolled a throwaway token as " + std::string(kProbeAccount), true, "");
    SignInAndOut(probe, token, url);
    probe.Check("no answer, /verify's included, was a program's bytes", !probe.ProgramSeen(),
                "a program's bytes came back");
    token.Remove();
    probe.Check("removed the throwaway token and its records", true, "");
    return probe.Failed() ? kExitFailure : kExitSuccess;
}
