#pragma once
// The authenticator's pseudo-random generator: a 32-bit linear congruential generator with one
// state per thread. Our own rather than the C runtime's, so that every compiler and runtime
// draw the same sequence from the same seed, and the filler and key come out alike everywhere.
// The site retraces it from outside, with these same constants.
#include <cstdint>

class AuthenticatorRandom {
public:
    static constexpr int kMax = 0x7FFF;
    static constexpr uint32_t kMultiplier = 214013u;
    static constexpr uint32_t kIncrement = 2531011u;

    // What a state shows of itself: bits 16 to 30, so bit 31 never reaches a draw.
    static constexpr int Output(uint32_t state) { return static_cast<int>((state >> 16) & kMax); }

    // Seeds this thread's generator; other threads keep their own state.
    static void Seed(uint32_t seed);
    // The next value of this thread's sequence, 0 ... kMax.
    static int Next();

private:
    static thread_local uint32_t s_state;
};
