#pragma once
// The site's metrics as Prometheus scrapes them: its text exposition format, version 0.0.4.
// Each family is written once, its HELP and TYPE lines first and then all its series; families
// in name order and each family's series in label order, so the same numbers always read the
// same, whatever order the store gave them in.
#include "site/report/Histogram.h"

#include <concepts>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr std::string_view kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

// Label names with their values, in any order.
using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// A sample's value as the format writes it: integers as they are, other numbers in the
// shortest text that reads back as the same number ("0.0005", "2.5", "1.5e+06"), and +Inf,
// -Inf and NaN.
class MetricValue {
public:
    template <std::integral Integer>
    MetricValue(Integer value) : m_text(std::to_string(value))
    {
    }
    MetricValue(double value);

    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

enum class MetricType { Counter, Gauge, Histogram };

class Exposition {
public:
    // Names, help and label names are the program's own: a name the format does not allow, a
    // family declared again with another type or help, a label name twice or a series given
    // twice is a fault of the program and throws std::logic_error. Label values may be anything.
    void Counter(std::string_view name, std::string_view help, const MetricLabels& labels, MetricValue value);
    void Gauge(std::string_view name, std::string_view help, const MetricLabels& labels, MetricValue value);
    // name_bucket (with le), name_sum and name_count; le may not be among the labels.
    void Histogram(std::string_view name, std::string_view help, const MetricLabels& labels,
                   const HistogramSnapshot& snapshot);

    std::string Text() const;

private:
    struct Family {
        std::string help;
        MetricType type = MetricType::Counter;
        std::map<MetricLabels, std::string> series; // the series' lines, by their sorted labels
    };

    void Add(std::string_view name, std::string_view help, MetricType type, MetricLabels labels, std::string lines);

    std::map<std::string, Family, std::less<>> m_families;
};
