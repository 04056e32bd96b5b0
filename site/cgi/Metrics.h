#pragma once
// /metrics: the site's metrics for Prometheus (site/report/SiteMetrics.h), answered only to the
// addresses ENTRAVO_SITE_METRICS_FROM names (to others the path does not exist: the routing
// table's audience). Every count comes from the store, so every process and every web server
// answers the same and a restart resets nothing; only the answer times are the process's own.
#include "site/cgi/Exchange.h"

// This process's counts written first, so that its own answers until now are in them.
Response ServeMetrics(Exchange& exchange, SiteStore& store);

// 503: Prometheus marks the site down while its store cannot be read.
Response MetricsFailed(const Exchange& exchange, const StoreError& error);
