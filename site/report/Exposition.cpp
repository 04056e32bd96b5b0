#include "site/report/Exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

bool NameCharacter(char c, bool first, bool colon)
{
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colon && c == ':');
    return letter || (!first && c >= '0' && c <= '9');
}

// Metric names may hold colons; label names may not, and those starting "__" are Prometheus's own.
bool ValidName(std::string_view name, bool metric)
{
    if (name.empty() || (!metric && name.starts_with("__")))
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!NameCharacter(name[i], i == 0, metric))
            return false;
    }
    return true;
}

// HELP text escapes backslash and line feed; label values escape the double quote too.
std::string Escaped(std::string_view text, bool quote)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '"' && quote)
            escaped += "\\\"";
        else
            escaped += c;
    }
    return escaped;
}

std::string_view TypeName(MetricType type)
{
    switch (type) {
    case MetricType::Counter:
        return "counter";
    case MetricType::Gauge:
        return "gauge";
    default:
        return "histogram";
    }
}

MetricLabels Sorted(MetricLabels labels)
{
    for (const auto& [name, value] : labels) {
        if (!ValidName(name, false))
            throw std::logic_error("not a label name: " + name);
    }
    std::sort(labels.begin(), labels.end());
    const auto twice = std::adjacent_find(labels.begin(), labels.end(),
                                          [](const auto& a, const auto& b) { return a.first == b.first; });
    if (twice != labels.end())
        throw std::logic_error("label given twice: " + twice->first);
    return labels;
}

std::string LabelText(const MetricLabels& labels)
{
    if (labels.empty())
        return "";
    std::string text = "{";
    for (const auto& [name, value] : labels)
        text += (text.size() > 1 ? "," : "") + name + "=\"" + Escaped(value, true) + "\"";
    return text + "}";
}

std::string Line(std::string_view name, const MetricLabels& labels, const MetricValue& value)
{
    return std::string(name) + LabelText(labels) + " " + value.Text() + "\n";
}

} // namespace

MetricValue::MetricValue(double value)
{
    if (std::isnan(value)) {
        m_text = "NaN";
    } else if (std::isinf(value)) {
        m_text = value > 0 ? "+Inf" : "-Inf";
    } else {
        // As Prometheus's own programs write numbers (bucket bounds are label text, so the
        // same bound should read the same from every program): the shortest digits, with an
        // exponent below 1e-4 and from 1e6 on.
        char text[32];
        char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
        const char* mark = std::find(text, end, 'e') + 1;
        int exponent = 0;
        std::from_chars(mark + (*mark == '+' ? 1 : 0), end, exponent);
        if (exponent >= -4 && exponent < 6)
            end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
        m_text.assign(text, end);
    }
}

void Exposition::Counter(std::string_view name, std::string_view help, const MetricLabels& labels, MetricValue value)
{
    const MetricLabels sorted = Sorted(labels);
    Add(name, help, MetricType::Counter, sorted, Line(name, sorted, value));
}

void Exposition::Gauge(std::string_view name, std::string_view help, const MetricLabels& labels, MetricValue value)
{
    const MetricLabels sorted = Sorted(labels);
    Add(name, help, MetricType::Gauge, sorted, Line(name, sorted, value));
}

void Exposition::Histogram(std::string_view name, std::string_view help, const MetricLabels& labels,
                           const HistogramSnapshot& snapshot)
{
    const MetricLabels sorted = Sorted(labels);
    if (std::any_of(sorted.begin(), sorted.end(), [](const auto& label) { return label.first == "le"; }))
        throw std::logic_error("a histogram's own label le given");
    if (snapshot.bounds.size() != snapshot.cumulative.size())
        throw std::logic_error("a histogram's bounds and counts differ in number");
    const std::string prefix(name);
    std::string lines;
    for (std::size_t i = 0; i < snapshot.bounds.size(); ++i) {
        MetricLabels bucket = sorted;
        bucket.emplace_back("le", MetricValue(snapshot.bounds[i]).Text());
        lines += Line(prefix + "_bucket", bucket, snapshot.cumulative[i]);
    }
    MetricLabels last = sorted;
    last.emplace_back("le", "+Inf");
    lines += Line(prefix + "_bucket", last, snapshot.count);
    lines += Line(prefix + "_sum", sorted, snapshot.sum);
    lines += Line(prefix + "_count", sorted, snapshot.count);
    Add(name, help, MetricType::Histogram, sorted, std::move(lines));
}

void Exposition::Add(std::string_view name, std::string_view help, MetricType type, MetricLabels labels,
                     std::string lines)
{
    if (!ValidName(name, true))
        throw std::logic_error("not a metric name: " + std::string(name));
    auto [family, added] = m_families.try_emplace(std::string(name), Family{std::string(help), type, {}});
    if (!added && (family->second.type != type || family->second.help != help))
        throw std::logic_error("metric declared twice differently: " + std::string(name));
    if (!family->second.series.emplace(std::move(labels), std::move(lines)).second)
        throw std::logic_error("series given twice in " + std::string(name));
}

std::string Exposition::Text() const
{
    std::string text;
    for (const auto& [name, family] : m_families) {
        text += "# HELP " + name + " " + Escaped(family.help, false) + "\n";
        text += "# TYPE " + name + " " + std::string(TypeName(family.type)) + "\n";
        for (const auto& [labels, lines] : family.series)
            text += lines;
    }
    return text;
}
