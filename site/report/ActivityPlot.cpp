#include "site/report/ActivityPlot.h"

#include "site/report/Markup.h"
#include "site/store/SiteStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr int64_t kHour = 60 * 60;
constexpr int64_t kDay = 24 * kHour;

// The drawing's own units, as narrow as a phone's screen so that its text stays readable
// there; wider screens show two side by side.
constexpr double kWidth = 440;
constexpr double kHeight = 250;
constexpr double kLeft = 50;
constexpr double kRight = 424;
constexpr double kTop = 46;
constexpr double kBottom = 196;

constexpr std::string_view kSignInColour = "#2563eb";
constexpr std::string_view kFailureColour = "#d97706";
constexpr std::string_view kRefusalColour = "#dc2626";

int64_t FloorTo(int64_t at, int64_t step)
{
    return at / step * step - (at % step < 0 ? step : 0);
}

int64_t AddCapped(int64_t sum, int64_t count)
{
    int64_t result = 0;
    if (count <= 0)
        return sum;
    return __builtin_add_overflow(sum, count, &result) ? std::numeric_limits<int64_t>::max() : result;
}

void AddTo(Activity& slot, const Activity& entry)
{
    slot.signIns = AddCapped(slot.signIns, entry.signIns);
    slot.failures = AddCapped(slot.failures, entry.failures);
    slot.refusals = AddCapped(slot.refusals, entry.refusals);
}

bool Idle(const Activity& slot)
{
    return slot.signIns == 0 && slot.failures == 0 && slot.refusals == 0;
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Plural(int64_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string_view SlotName(const PlotSpan& span)
{
    return span.step == kHour ? "hour" : "day";
}

// Noon, and midnight by its date; days every tenth, counted back from today.
std::optional<std::string> AxisLabel(const PlotSpan& span, int64_t start, int index)
{
    if (span.step == kHour) {
        if (start % (12 * kHour) != 0)
            return std::nullopt;
        return UtcText(start, start % kDay == 0 ? "%b %d" : "%H:%M");
    }
    if ((span.slots - 1 - index) % 10 != 0)
        return std::nullopt;
    return UtcText(start, "%b %d");
}

std::string Legend()
{
    std::string svg;
    svg += "<rect x=\"50\" y=\"8\" width=\"10\" height=\"10\" fill=\"" + std::string(kSignInColour) + "\"/>";
    svg += "<text x=\"65\" y=\"18\">Sign-ins</text>";
    svg += "<rect x=\"135\" y=\"8\" width=\"10\" height=\"10\" fill=\"" + std::string(kFailureColour) + "\"/>";
    svg += "<text x=\"150\" y=\"18\">Failures</text>";
    svg += "<path d=\"M220 8h12l-6 10z\" fill=\"" + std::string(kRefusalColour) + "\"/>";
    svg += "<text x=\"237\" y=\"18\">Budget refusals</text>";
    return svg;
}

std::string CountAxis(const AxisScale& scale, const PlotSpan& span)
{
    std::string svg;
    const auto ticks = static_cast<int>(std::lround(scale.top / scale.step));
    for (int tick = 0; tick <= ticks; ++tick) {
        const double y = kBottom - (kBottom - kTop) * tick / ticks;
        svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kRight) + "\" y1=\"" + Number(y) + "\" y2=\"" +
               Number(y) + "\" stroke=\"" + (tick == 0 ? "#555" : "#ddd") + "\"/>";
        svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(y + 4) + "\" text-anchor=\"end\">" +
               EscapeMarkup(CompactCount(scale.step * tick)) + "</text>";
    }
    svg += "<text transform=\"translate(14 " + Number((kTop + kBottom) / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">per " + std::string(SlotName(span)) + "</text>";
    return svg;
}

std::string TimeAxis(const PlotSpan& span, const std::vector<Activity>& slots)
{
    std::string svg;
    const double width = (kRight - kLeft) / span.slots;
    for (int i = 0; i < span.slots; ++i) {
        const auto label = AxisLabel(span, slots[i].at, i);
        if (!label)
            continue;
        const std::string x = Number(kLeft + width * (i + 0.5));
        svg += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + Number(kBottom) + "\" y2=\"" + Number(kBottom + 5) +
               "\" stroke=\"#555\"/>";
        svg += "<text x=\"" + x + "\" y=\"" + Number(kBottom + 18) + "\" text-anchor=\"middle\">" +
               EscapeMarkup(*label) + "</text>";
    }
    svg += "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" + Number(kHeight - 6) +
           "\" text-anchor=\"middle\">" + std::string(SlotName(span)) + " (UTC)</text>";
    return svg;
}

std::string Bar(double x, double width, int64_t count, const AxisScale& scale, std::string_view colour)
{
    if (count <= 0)
        return "";
    // The smallest count stays visible beside the largest.
    const double height = std::max(1.0, (kBottom - kTop) * static_cast<double>(count) / scale.top);
    return "<rect x=\"" + Number(x) + "\" y=\"" + Number(kBottom - height) + "\" width=\"" + Number(width) +
           "\" height=\"" + Number(height) + "\" fill=\"" + std::string(colour) + "\"/>";
}

const char* SlotTimeFormat(const PlotSpan& span)
{
    return span.step == kHour ? "%Y-%m-%d %H:00" : "%Y-%m-%d";
}

std::string SlotText(const PlotSpan& span, const Activity& slot)
{
    return UtcText(slot.at, SlotTimeFormat(span)) + ": " + Plural(slot.signIns, "sign-in", "sign-ins") + ", " +
           Plural(slot.failures, "failure", "failures") + ", " +
           Plural(slot.refusals, "budget refusal", "budget refusals");
}

// A slot with refusals is shaded over the whole height and marked above the bars.
std::string Slot(const PlotSpan& span, const Activity& slot, int index, const AxisScale& scale)
{
    if (Idle(slot))
        return "";
    const double width = (kRight - kLeft) / span.slots;
    const double x = kLeft + width * index;
    std::string svg = "<g><title>" + EscapeMarkup(SlotText(span, slot)) + "</title>";
    if (slot.refusals > 0) {
        svg += "<rect x=\"" + Number(x) + "\" y=\"" + Number(kTop) + "\" width=\"" + Number(width) + "\" height=\"" +
               Number(kBottom - kTop) + "\" fill=\"" + std::string(kRefusalColour) + "\" fill-opacity=\"0.12\"/>";
        svg += "<path d=\"M" + Number(x + width / 2 - 4) + " " + Number(kTop - 12) + "h8l-4 8z\" fill=\"" +
               std::string(kRefusalColour) + "\"/>";
    }
    svg += Bar(x + width * 0.1, width * 0.4, slot.signIns, scale, kSignInColour);
    svg += Bar(x + width * 0.5, width * 0.4, slot.failures, scale, kFailureColour);
    return svg + "</g>";
}

std::string Description(const PlotSpan& span, const std::vector<Activity>& slots)
{
    Activity total;
    for (const Activity& slot : slots)
        AddTo(total, slot);
    const auto refusedSlots =
        std::count_if(slots.begin(), slots.end(), [](const Activity& slot) { return slot.refusals > 0; });
    // Hours end at a time ("to 09:00"), days with the last one ("to 2027-01-15").
    const int64_t last = span.step == kHour ? span.end : span.end - span.step;
    const char* format = SlotTimeFormat(span);
    std::string text = "From " + UtcText(span.end - span.step * span.slots, format) + " to " + UtcText(last, format) +
                       " UTC: " + Plural(total.signIns, "sign-in", "sign-ins") + ", " +
                       Plural(total.failures, "failure", "failures") + "; ";
    if (total.refusals == 0)
        return text + "no attempt refused for a spent budget.";
    return text + Plural(total.refusals, "attempt", "attempts") + " refused for a spent budget in " +
           Plural(refusedSlots, std::string(SlotName(span)), std::string(SlotName(span)) + "s") + ".";
}

int64_t Largest(const std::vector<Activity>& slots)
{
    int64_t largest = 0;
    for (const Activity& slot : slots)
        largest = std::max({largest, slot.signIns, slot.failures});
    return largest;
}

} // namespace

PlotSpan HourlySpan(int64_t now)
{
    return {FloorTo(now, kHour) + kHour, kHour, 48};
}

PlotSpan DailySpan(int64_t now)
{
    return {FloorTo(now, kDay) + kDay, kDay, 60};
}

std::vector<Activity> FillSlots(const PlotSpan& span, const std::vector<Activity>& data)
{
    std::vector<Activity> slots(static_cast<std::size_t>(span.slots));
    const int64_t first = span.end - span.step * span.slots;
    for (int i = 0; i < span.slots; ++i)
        slots[static_cast<std::size_t>(i)].at = first + span.step * i;
    for (const Activity& entry : data) {
        if (entry.at >= first && entry.at < span.end)
            AddTo(slots[static_cast<std::size_t>((entry.at - first) / span.step)], entry);
    }
    return slots;
}

AxisScale ScaleFor(int64_t largest)
{
    const double wanted = std::max(1.0, static_cast<double>(largest) / 4);
    double power = std::pow(10.0, std::floor(std::log10(wanted)));
    double step = power;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= wanted)
            break;
    }
    const double top = std::max(1.0, std::ceil(static_cast<double>(largest) / step)) * step;
    return {step, top};
}

std::string CompactCount(double value)
{
    static constexpr std::pair<double, const char*> kUnits[] = {{1e18, "E"}, {1e15, "P"}, {1e12, "T"},
                                                                {1e9, "G"},  {1e6, "M"},  {1e3, "k"}};
    char text[32];
    if (value < 10'000) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    for (const auto& [unit, name] : kUnits) {
        if (value >= unit) {
            std::snprintf(text, sizeof text, "%.3g%s", value / unit, name);
            break;
        }
    }
    return text;
}

std::string ActivityPlot(const PlotSpan& span, const std::vector<Activity>& data, std::string_view id,
                         std::string_view title)
{
    const std::vector<Activity> slots = FillSlots(span, data);
    const AxisScale scale = ScaleFor(Largest(slots));
    const std::string name = EscapeMarkup(id);
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Number(kWidth) + " " +
                      Number(kHeight) + "\" role=\"img\" aria-labelledby=\"" + name + "-title " + name +
                      "-desc\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#222\">";
    svg += "<title id=\"" + name + "-title\">" + EscapeMarkup(title) + "</title>";
    svg += "<desc id=\"" + name + "-desc\">" + EscapeMarkup(Description(span, slots)) + "</desc>";
    svg += Legend() + CountAxis(scale, span) + TimeAxis(span, slots);
    for (int i = 0; i < span.slots; ++i)
        svg += Slot(span, slots[static_cast<std::size_t>(i)], i, scale);
    if (std::all_of(slots.begin(), slots.end(), Idle))
        svg += "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" + Number((kTop + kBottom) / 2) +
               "\" text-anchor=\"middle\" fill=\"#666\">No attempts in this time</text>";
    return svg + "</svg>";
}
