#pragma once
// The site's metrics as Prometheus scrapes them, from what the store holds (StoreFigures) and
// the answer times of the process that answers the scrape: each count's name is one family,
// each label one series. A count the figures do not hold is not shown; the caller adds the
// labels that must show from the start at zero.
#include "site/report/Histogram.h"
#include "site/store/SiteStore.h"

#include <string>

// answerTimes: login.fcgi's own, or nothing (login.cgi keeps none).
std::string SiteMetricsText(const StoreFigures& figures, const HistogramSnapshot* answerTimes);
