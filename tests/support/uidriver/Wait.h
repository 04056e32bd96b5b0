#pragma once
// Bounded polls: every wait of the UI tests and tools ends by a deadline, and a test that
// needs "nothing happens" watches for a bounded time instead of sleeping blindly.
#include <chrono>
#include <functional>

namespace uidriver {

using Milliseconds = std::chrono::milliseconds;

// The time source of a poll; tests of the poll itself replace it.
class PollClock {
public:
    virtual ~PollClock() = default;
    virtual std::chrono::steady_clock::time_point Now() = 0;
    virtual void Pause(Milliseconds interval) = 0;
};

PollClock& SystemPollClock();

inline constexpr Milliseconds kDefaultPollInterval{10};

// True as soon as condition holds; false when it still does not hold at the deadline (it is
// asked once more at the deadline, so a slow last step is not lost).
bool WaitFor(const std::function<bool()>& condition, Milliseconds timeout, Milliseconds interval = kDefaultPollInterval,
             PollClock& clock = SystemPollClock());

// True when condition holds at every look during the whole period; false at the first look
// where it does not.
bool HoldsFor(const std::function<bool()>& condition, Milliseconds period, Milliseconds interval = kDefaultPollInterval,
              PollClock& clock = SystemPollClock());

} // namespace uidriver
