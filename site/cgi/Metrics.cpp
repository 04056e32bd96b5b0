#include "site/cgi/Metrics.h"

#include "site/cgi/ProcessCounts.h"
#include "site/cgi/VerifyApi.h"
#include "site/report/Exposition.h"
#include "site/report/SiteMetrics.h"

#include <optional>

namespace {

constexpr Outcome kOutcomes[] = {Outcome::Accepted,       Outcome::AlreadyUsed, Outcome::NotGenuine,
                                 Outcome::Malformed,      Outcome::NotEnrolled, Outcome::Revoked,
                                 Outcome::TooManyFailures};
constexpr StoreError::Kind kStoreErrorKinds[] = {StoreError::Kind::Busy, StoreError::Kind::Full,
                                                 StoreError::Kind::Unreachable, StoreError::Kind::Broken,
                                                 StoreError::Kind::Unresolved};

// Every label a series can have shows from the start, at zero: a series that appears only with
// its first count would hide that count from Prometheus's increase().
void AddZeros(Counts& counts)
{
    const auto zero = [&](std::string_view name, std::string_view label) {
        counts.try_emplace({std::string(name), std::string(label)}, 0);
    };
    for (const Outcome outcome : kOutcomes)
        zero(kCheckedCount, OutcomeName(outcome));
    for (const char* kind : {"address", "network"})
        zero(kRefusedCount, kind);
    for (const std::string_view status : kApiStatuses)
        zero(kApiCallCount, status);
    for (const char* answer : {"signed-in", "not-signed-in"})
        zero(kSessionCheckCount, answer);
    for (const StoreError::Kind kind : kStoreErrorKinds)
        zero(kStoreErrorCount, StoreError("", kind).KindName());
    for (const char* state : {"active", "revoked"})
        zero(kTokensCount, state);
    zero(kSessionsCount, "");
    zero(kUsedStringsCount, "");
}

} // namespace

Response ServeMetrics(Exchange& exchange, SiteStore& store)
{
    WriteCounts(store);
    StoreFigures figures = store.Figures(exchange.request.now);
    AddZeros(figures.counts);
    std::optional<HistogramSnapshot> answerTimes;
    if (const LatencyHistogram* histogram = AnswerTimes())
        answerTimes = histogram->Snapshot();
    Response response;
    response.headers = {{"Content-Type", std::string(kExpositionContentType)},
                        {"Cache-Control", "no-store"},
                        {"X-Content-Type-Options", "nosniff"}};
    response.body = SiteMetricsText(figures, answerTimes ? &*answerTimes : nullptr);
    return response;
}

Response MetricsFailed(const Exchange&, const StoreError&)
{
    Response response;
    response.status = 503;
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}};
    response.body = "The store cannot be read; see the web server's error log.\n";
    return response;
}
