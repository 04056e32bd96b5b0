#include "site/report/Exposition.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace {

std::string ValueText(MetricValue value)
{
    return value.Text();
}

double ReadBack(const std::string& text)
{
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace

TEST(Exposition, WritesEachFamilyOnceInNameOrderWithItsSeriesInLabelOrder)
{
    Exposition metrics;
    metrics.Counter("entravo_sign_ins_total", "Checked strings by outcome.", {{"outcome", "not-genuine"}}, 2);
    metrics.Gauge("entravo_live_sessions", "Sessions open now.", {}, 7);
    metrics.Counter("entravo_sign_ins_total", "Checked strings by outcome.", {{"outcome", "accepted"}}, 3);
    metrics.Counter("entravo_budgets_spent_total", "Budgets spent.\nBy kind \\ origin.",
                    {{"kind", "network"}, {"held", "a\\b \"c\"\nd"}}, 1);
    EXPECT_EQ("# HELP entravo_budgets_spent_total Budgets spent.\\nBy kind \\\\ origin.\n"
              "# TYPE entravo_budgets_spent_total counter\n"
              "entravo_budgets_spent_total{held=\"a\\\\b \\\"c\\\"\\nd\",kind=\"network\"} 1\n"
              "# HELP entravo_live_sessions Sessions open now.\n"
              "# TYPE entravo_live_sessions gauge\n"
              "entravo_live_sessions 7\n"
              "# HELP entravo_sign_ins_total Checked strings by outcome.\n"
              "# TYPE entravo_sign_ins_total counter\n"
              "entravo_sign_ins_total{outcome=\"accepted\"} 3\n"
              "entravo_sign_ins_total{outcome=\"not-genuine\"} 2\n",
              metrics.Text());
}

TEST(Exposition, WritesIntegersPlainlyAndOtherNumbersSoTheyReadBackTheSame)
{
    EXPECT_EQ("0", ValueText(0));
    EXPECT_EQ("-42", ValueText(int64_t{-42}));
    EXPECT_EQ("9223372036854775807", ValueText(std::numeric_limits<int64_t>::max()));
    EXPECT_EQ("18446744073709551615", ValueText(std::numeric_limits<uint64_t>::max()));
    EXPECT_EQ("3", ValueText(3.0));
    EXPECT_EQ("0.1", ValueText(0.1));
    EXPECT_EQ("0.0005", ValueText(0.0005));
    EXPECT_EQ("999999.5", ValueText(999999.5));
    EXPECT_EQ("1.5e+06", ValueText(1.5e6));
    EXPECT_EQ("5e-05", ValueText(0.00005));
    EXPECT_EQ("+Inf", ValueText(std::numeric_limits<double>::infinity()));
    EXPECT_EQ("-Inf", ValueText(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ("NaN", ValueText(std::numeric_limits<double>::quiet_NaN()));
    for (const double value : {1.0 / 3, 1e21, 123456.789e-300, std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::max(), -2.5e-7}) {
        const std::string text = ValueText(value);
        EXPECT_EQ(value, ReadBack(text)) << text;
        EXPECT_EQ(std::string::npos, text.find_first_not_of("0123456789.e+-")) << text;
    }
}

TEST(Exposition, WritesAHistogramsBucketsCumulativelyThenInfinitySumAndCount)
{
    Exposition metrics;
    HistogramSnapshot snapshot{{0.0005, 0.25}, {1, 3}, 4, 12.5};
    metrics.Histogram("entravo_request_seconds", "Answer time.", {{"program", "login.fcgi"}}, snapshot);
    EXPECT_EQ("# HELP entravo_request_seconds Answer time.\n"
              "# TYPE entravo_request_seconds histogram\n"
              "entravo_request_seconds_bucket{program=\"login.fcgi\",le=\"0.0005\"} 1\n"
              "entravo_request_seconds_bucket{program=\"login.fcgi\",le=\"0.25\"} 3\n"
              "entravo_request_seconds_bucket{program=\"login.fcgi\",le=\"+Inf\"} 4\n"
              "entravo_request_seconds_sum{program=\"login.fcgi\"} 12.5\n"
              "entravo_request_seconds_count{program=\"login.fcgi\"} 4\n",
              metrics.Text());
}

TEST(Exposition, RefusesNamesTheFormatForbidsAndSeriesGivenTwice)
{
    Exposition metrics;
    metrics.Counter("a:b_c1", "Help.", {{"x", "1"}, {"y", "2"}}, 1);
    EXPECT_THROW(metrics.Counter("a:b_c1", "Help.", {{"y", "2"}, {"x", "1"}}, 1), std::logic_error);
    EXPECT_THROW(metrics.Gauge("a:b_c1", "Help.", {{"x", "2"}}, 1), std::logic_error);
    EXPECT_THROW(metrics.Counter("a:b_c1", "Other help.", {{"x", "2"}}, 1), std::logic_error);
    for (const char* name : {"", "1abc", "a-b", "a b", "é"})
        EXPECT_THROW(metrics.Counter(name, "Help.", {}, 1), std::logic_error) << name;
    for (const char* label : {"", "__reserved", "a:b", "9a", "a.b"})
        EXPECT_THROW(metrics.Counter("c", "Help.", {{label, "v"}}, 1), std::logic_error) << label;
    EXPECT_THROW(metrics.Counter("c", "Help.", {{"x", "1"}, {"x", "2"}}, 1), std::logic_error);
    EXPECT_THROW(metrics.Histogram("h", "Help.", {{"le", "1"}}, HistogramSnapshot{}), std::logic_error);
    EXPECT_THROW(metrics.Histogram("h", "Help.", {}, HistogramSnapshot{{1.0}, {}, 0, 0}), std::logic_error);
    metrics.Counter("c", "Help.", {{"x", ""}}, 1);
    EXPECT_NE(std::string::npos, metrics.Text().find("c{x=\"\"} 1\n"));
}
