#pragma once
// What a process of the login page counts of its own, for the metrics: the answers that leave
// no record in the store (the API's by status, the session checks' by answer, the store's
// failures by kind), held here until they are added to the store's counts in one batch
// (WriteCounts in Gateway.h), so counting costs a request no write; and login.fcgi's answer
// times. Every thread of the process counts into the same place.
#include "site/report/Histogram.h"
#include "site/store/SiteStore.h"

#include <string_view>

void CountEvent(std::string_view name, std::string_view label);
// The counts not yet written, added to the store's in one transaction. When that fails they
// wait for the next time, and the error goes on; unless the store cannot tell whether it added
// them, when they are dropped: a count too low rather than one counted twice.
void WriteCounts(SiteStore& store);
bool CountsPending();

// login.fcgi's answer times, which the metrics show; none in login.cgi.
void KeepAnswerTimes(const LatencyHistogram* histogram);
const LatencyHistogram* AnswerTimes();
