// Prints a sample of what the operator sees, for checks with other programs' readers:
//   site_report_sample metrics   the metrics as Prometheus scrapes them
#include "site/report/Exposition.h"

#include <chrono>
#include <iostream>
#include <limits>
#include <string_view>

namespace {

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

} // namespace

int main(int argc, char** argv)
{
    const std::string_view what = argc == 2 ? argv[1] : "";
    if (what == "metrics")
        std::cout << Metrics();
    else {
        std::cerr << "usage: site_report_sample metrics\n";
        return 2;
    }
    return 0;
}
