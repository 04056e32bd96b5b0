#include "site/report/SiteMetrics.h"

#include "site/report/Exposition.h"

#include <array>

namespace {

struct Family {
    std::string_view count; // the name the store keeps it under
    std::string_view metric;
    std::string_view label; // empty for a single series
    MetricType type;
    std::string_view help;
};

constexpr std::array<Family, 8> kFamilies{{
    {kCheckedCount, "entravo_sign_ins_total", "outcome", MetricType::Counter,
     "Sign-in strings checked, by outcome (page and API alike): too-many-failures are attempts refused unchecked"
     " because a failure budget was spent."},
    {kRefusedCount, "entravo_budget_refusals_total", "kind", MetricType::Counter,
     "Attempts refused unchecked because the failure budget of their address or of their network was spent."},
    {kApiCallCount, "entravo_api_calls_total", "status", MetricType::Counter,
     "Answers of the verification API (/verify), by status."},
    {kSessionCheckCount, "entravo_session_checks_total", "answer", MetricType::Counter,
     "Session checks (/auth and FastCGI authorizer requests), by answer."},
    {kStoreErrorCount, "entravo_store_errors_total", "kind", MetricType::Counter,
     "Requests that met a failure of the store, by kind: busy, full, unreachable (temporary), broken, unresolved."},
    {kTokensCount, "entravo_tokens", "state", MetricType::Gauge, "Enrolled tokens, by state."},
    {kSessionsCount, "entravo_sessions", "", MetricType::Gauge, "Live sessions."},
    {kUsedStringsCount, "entravo_used_strings", "", MetricType::Gauge,
     "Strings used up, kept for ever so that none works twice."},
}};

void Add(Exposition& metrics, const Family& family, const std::string& label, int64_t value)
{
    const MetricLabels labels =
        family.label.empty() ? MetricLabels{} : MetricLabels{{std::string(family.label), label}};
    if (family.type == MetricType::Counter)
        metrics.Counter(family.metric, family.help, labels, value);
    else
        metrics.Gauge(family.metric, family.help, labels, value);
}

} // namespace

std::string SiteMetricsText(const StoreFigures& figures, const HistogramSnapshot* answerTimes)
{
    Exposition metrics;
    for (const auto& [name, value] : figures.counts) {
        for (const Family& family : kFamilies) {
            if (family.count == name.first)
                Add(metrics, family, name.second, value);
        }
    }
    metrics.Gauge("entravo_store_bytes", "The store's size: the SQLite file with its log, or the PostgreSQL tables.",
                  {}, figures.bytes);
    if (answerTimes)
        metrics.Histogram("entravo_request_seconds",
                          "Time login.fcgi took to answer, since this process started: each process counts its own"
                          " (add them up across processes and servers).",
                          {}, *answerTimes);
    return metrics.Text();
}
