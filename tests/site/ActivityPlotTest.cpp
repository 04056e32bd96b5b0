#include "site/report/ActivityPlot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;
// 2027-01-15 08:20:00 UTC
constexpr int64_t kNow = 1'800'000'000 + 20 * 60;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close)
{
    const std::size_t start = text.find(open) + open.size();
    return text.substr(start, text.find(close, start) - start);
}

} // namespace

TEST(ActivityPlot, FillsMissingSlotsWithZerosAndAddsEntriesOfOneSlotWithoutOverflowing)
{
    const PlotSpan span = HourlySpan(kNow);
    const int64_t first = span.end - 48 * kHour;
    const auto slots = FillSlots(span, {{kNow, 2, 1, 0},
                                        {kNow - 5, 1, 0, 3},
                                        {first + 10 * kHour + 59, kMax, 5, 0},
                                        {first + 10 * kHour, 7, -4, 1},
                                        {first - 1, 100, 100, 100},
                                        {span.end, 100, 100, 100}});
    ASSERT_EQ(48u, slots.size());
    for (int i = 0; i < 48; ++i)
        EXPECT_EQ(first + i * kHour, slots[static_cast<std::size_t>(i)].at);
    EXPECT_EQ(3, slots[47].signIns);
    EXPECT_EQ(1, slots[47].failures);
    EXPECT_EQ(3, slots[47].refusals);
    EXPECT_EQ(kMax, slots[10].signIns);
    EXPECT_EQ(5, slots[10].failures);
    EXPECT_EQ(1, slots[10].refusals);
    EXPECT_EQ(0, slots[0].signIns + slots[0].failures + slots[0].refusals);
    EXPECT_EQ(0, slots[46].signIns + slots[46].failures + slots[46].refusals);
}

TEST(ActivityPlot, ScalesTheCountAxisToAtMostFourRoundStepsLabelledCompactly)
{
    const struct {
        int64_t largest;
        double step;
        double top;
    } cases[] = {{0, 1, 1}, {1, 1, 1}, {3, 1, 3}, {5, 2, 6}, {17, 5, 20}, {1000, 500, 1000}, {kMax, 5e18, 1e19}};
    for (const auto& c : cases) {
        const AxisScale scale = ScaleFor(c.largest);
        EXPECT_EQ(c.step, scale.step) << c.largest;
        EXPECT_EQ(c.top, scale.top) << c.largest;
    }
    for (int64_t largest = 1; largest < 100'000'000; largest = largest * 3 + 1) {
        const AxisScale scale = ScaleFor(largest);
        const double mantissa = scale.step / std::pow(10.0, std::floor(std::log10(scale.step)));
        EXPECT_TRUE(mantissa == 1 || mantissa == 2 || mantissa == 5) << largest;
        EXPECT_GE(scale.top, static_cast<double>(largest));
        EXPECT_LE(scale.top / scale.step, 4.0) << largest;
    }
    EXPECT_EQ("0", CompactCount(0));
    EXPECT_EQ("9999", CompactCount(9999));
    EXPECT_EQ("10k", CompactCount(10'000));
    EXPECT_EQ("15k", CompactCount(15'000));
    EXPECT_EQ("2.5M", CompactCount(2.5e6));
    EXPECT_EQ("10E", CompactCount(1e19));
}

TEST(ActivityPlot, DescribesTheTotalsAndMarksEverySlotWithRefusals)
{
    const PlotSpan span = HourlySpan(kNow);
    const std::string svg =
        ActivityPlot(span, {{kNow, 3, 1, 0}, {kNow - 2 * kHour, 0, 9, 40}, {kNow - 9 * kHour, 1, 0, 2}}, "hourly",
                     "Per hour <last 48>");
    EXPECT_EQ("From 2027-01-13 09:00 to 2027-01-15 09:00 UTC: 4 sign-ins, 10 failures; 42 attempts refused for a "
              "spent budget in 2 hours.",
              Between(svg, "<desc id=\"hourly-desc\">", "</desc>"));
    EXPECT_EQ("Per hour &lt;last 48&gt;", Between(svg, "<title id=\"hourly-title\">", "</title>"));
    EXPECT_NE(std::string::npos, svg.find("aria-labelledby=\"hourly-title hourly-desc\""));
    EXPECT_EQ(2, Occurrences(svg, "fill-opacity=\"0.12\""));
    EXPECT_EQ(3, Occurrences(svg, "<g><title>"));
    EXPECT_NE(std::string::npos,
              svg.find("<title>2027-01-15 06:00: 0 sign-ins, 9 failures, 40 budget refusals</title>"));
    EXPECT_EQ(std::string::npos, svg.find("No attempts"));
}

TEST(ActivityPlot, DrawsAnEmptySpanAndHugeCountsWithinThePlot)
{
    const PlotSpan span = DailySpan(kNow);
    const std::string empty = ActivityPlot(span, {}, "daily", "Per day");
    EXPECT_NE(std::string::npos, empty.find("No attempts in this time"));
    EXPECT_NE(std::string::npos, empty.find(">From 2026-11-17 to 2027-01-15 UTC: 0 sign-ins, 0 failures; no attempt "
                                            "refused for a spent budget.</desc>"));

    const std::string huge =
        ActivityPlot(span, {{kNow, kMax, 1, kMax}, {kNow - kDay, kMax, kMax, 0}}, "daily", "Per day");
    EXPECT_NE(std::string::npos, huge.find(">10E</text>"));
    EXPECT_NE(std::string::npos, huge.find(std::to_string(kMax) + " sign-ins"));
    for (const char* bad : {"nan", "inf"})
        EXPECT_EQ(std::string::npos, Between(huge, "</desc>", "</svg>").find(bad)) << bad;
    // The smallest count (one failure beside the largest) still shows as a bar one unit high.
    EXPECT_NE(std::string::npos, huge.find("height=\"1.0\" fill=\"#d97706\""));
}
