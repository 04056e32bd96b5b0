// Prints a sample of what the operator sees, for checks with other programs' readers:
//   site_report_sample metrics   the metrics as Prometheus scrapes them
//   site_report_sample admin     an admin page with two days of traffic and a guesser
//   site_report_sample policy    the Content-Security-Policy sent with it
#include "site/report/AdminPage.h"
#include "site/report/Exposition.h"

#include <chrono>
#include <iostream>
#include <limits>
#include <string_view>

namespace {

constexpr int64_t kNow = 1'800'000'000 + 20 * 60; // 2027-01-15 08:20 UTC
constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;

std::string Metrics()
{
    using namespace std::chrono_literals;
    Exposition metrics;
    const char* help = "Checked strings by outcome.";
    metrics.Counter("entravo_sign_ins_total", help, {{"outcome", "accepted"}}, 3);
    metrics.Counter("entravo_sign_ins_total", help, {{"outcome", "not-genuine"}}, std::numeric_limits<int64_t>::max());
    metrics.Counter("entravo_sample_total", "Help with a \\ backslash\nand a second line.",
                    {{"path", "C:\\dir"}, {"quote", "say \"hi\""}, {"lines", "one\ntwo"}}, 1);
    metrics.Gauge("entravo_sample_value", "Numbers of every kind.", {{"kind", "fraction"}}, 0.1);
    metrics.Gauge("entravo_sample_value", "Numbers of every kind.", {{"kind", "large"}}, 1.5e300);
    metrics.Gauge("entravo_sample_value", "Numbers of every kind.", {{"kind", "plus"}},
                  std::numeric_limits<double>::infinity());
    metrics.Gauge("entravo_sample_value", "Numbers of every kind.", {{"kind", "minus"}},
                  -std::numeric_limits<double>::infinity());
    metrics.Gauge("entravo_sample_value", "Numbers of every kind.", {{"kind", "nan"}},
                  std::numeric_limits<double>::quiet_NaN());
    LatencyHistogram histogram;
    for (const std::chrono::nanoseconds elapsed : {1ms, 1ms, 1ms, 20ms})
        histogram.Observe(elapsed);
    histogram.Observe(30s);
    metrics.Histogram("entravo_request_seconds", "Time login.fcgi took to answer.", {}, histogram.Snapshot());
    return metrics.Text();
}

AdminView Admin()
{
    AdminView view;
    view.account = "operator";
    view.path = "/cgi-bin/login.cgi/admin";
    view.csrf = "3de6fea8fd54b5cea3b9bd68b4ceff1c020170ea94ae238699f35157a7b3a1dd";
    view.now = kNow;
    view.notice = "Token 2800000000000042 revoked.";
    // Working hours busy, nights quiet, a guesser's morning of failures and refusals.
    for (int64_t hour = 0; hour < 48; ++hour) {
        const int64_t at = kNow - hour * kHour;
        const int64_t clock = (at / kHour) % 24;
        const int64_t busy = clock >= 7 && clock <= 18 ? 6 + (clock * 7) % 9 : (clock % 5 == 0 ? 1 : 0);
        const bool guessed = hour >= 2 && hour <= 4;
        const int64_t failures = (clock % 3 == 0 ? 1 : 0) + (guessed ? 45 : 0);
        view.hourly.push_back({at, busy, failures, guessed ? 120 * (hour - 1) : 0});
    }
    for (int64_t day = 0; day < 60; day += day % 7 == 5 ? 2 : 1) // weekends missing: no attempts
        view.daily.push_back({kNow - day * kDay, 70 + (day * 13) % 40, 3 + day % 4,
                              day == 0    ? 600
                              : day == 17 ? 80
                                          : 0});
    view.tokens = {{"0123456789ABCDEF", "alice", false, kNow - 300},
                   {"2800000000000042", "bob", true, kNow - 3 * kDay},
                   {"28FF4A1B22160390", "carol.longname@example.org", false, std::nullopt}};
    view.budgets = {{"198.51.100.0/24", "network", 600, kNow - kNow % kDay},
                    {"203.0.113.9", "address", 80, kNow - 17 * kDay - kNow % kDay}};
    view.signIns = {{kNow - 300, "alice", "0123456789ABCDEF", "192.0.2.7", SignInPath::Page},
                    {kNow - 4000, "alice", "0123456789ABCDEF", "2001:db8:4:7::1234:5678", SignInPath::Api},
                    {kNow - 3 * kDay, "bob", "2800000000000042", "192.0.2.30", SignInPath::Oidc}};
    return view;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view what = argc == 2 ? argv[1] : "";
    if (what == "metrics")
        std::cout << Metrics();
    else if (what == "admin")
        std::cout << RenderAdminPage(Admin());
    else if (what == "policy")
        std::cout << AdminPagePolicy() << "\n";
    else {
        std::cerr << "usage: site_report_sample metrics|admin|policy\n";
        return 2;
    }
    return 0;
}
