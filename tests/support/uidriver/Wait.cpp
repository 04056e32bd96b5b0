#include "tests/support/uidriver/Wait.h"

#include <algorithm>
#include <thread>

namespace uidriver {
namespace {

class SteadyPollClock final : public PollClock {
public:
    std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
    void Pause(Milliseconds interval) override { std::this_thread::sleep_for(interval); }
};

} // namespace

PollClock& SystemPollClock()
{
    static SteadyPollClock clock;
    return clock;
}

bool WaitFor(const std::function<bool()>& condition, Milliseconds timeout, Milliseconds interval, PollClock& clock)
{
    const auto deadline = clock.Now() + timeout;
    for (;;) {
        if (condition())
            return true;
        const auto now = clock.Now();
        if (now >= deadline)
            return false;
        // Never a zero pause: a deadline a fraction of a millisecond away must not spin.
        const auto left = std::chrono::ceil<Milliseconds>(deadline - now);
        clock.Pause(std::min(interval, left));
    }
}

bool HoldsFor(const std::function<bool()>& condition, Milliseconds period, Milliseconds interval, PollClock& clock)
{
    return !WaitFor([&] { return !condition(); }, period, interval, clock);
}

} // namespace uidriver
