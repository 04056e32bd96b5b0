#pragma once
// Sign-ins and failures over time as the admin page draws them: an inline SVG bar chart with
// the slots where a spent budget refused attempts marked. It uses presentation attributes
// only, so a page whose policy allows no style at all still shows it whole.
#include "site/store/SiteStore.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// slots slots of step seconds each, aligned to step (UTC), the last one ending at end.
struct PlotSpan {
    int64_t end = 0;
    int64_t step = 3600;
    int slots = 48;
};

// The last 48 hours and the last 60 days, the current hour or day included.
PlotSpan HourlySpan(int64_t now);
PlotSpan DailySpan(int64_t now);

// One entry per slot, oldest first, each at its slot's start. A slot the data leaves out is
// zeros; several entries in one slot add up, stopping at the largest count rather than
// overflowing; entries outside the span and negative counts are left out.
std::vector<Activity> FillSlots(const PlotSpan& span, const std::vector<Activity>& data);

// The count axis: ticks at 0, step, 2 step, ... top, with top at least the largest count and
// at most four steps, step being 1, 2 or 5 times a power of ten.
struct AxisScale {
    double step = 1;
    double top = 1;
};
AxisScale ScaleFor(int64_t largest);

// A count as an axis label: plain below 10,000, then 15k, 2.5M, 10E.
std::string CompactCount(double value);

// The whole <svg> element. id (the program's own, unique within the page) names its title and
// description for screen readers; the description states the totals in words.
std::string ActivityPlot(const PlotSpan& span, const std::vector<Activity>& data, std::string_view id,
                         std::string_view title);
