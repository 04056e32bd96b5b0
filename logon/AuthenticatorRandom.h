#pragma once
// The pseudo-random generator the authenticator was designed with: a 32-bit linear
// congruential generator with one state per thread. Our own copy, so that every compiler and
// C runtime produce the same strings as the web servers that decode them expect.
#include <cstdint>

class AuthenticatorRandom {
public:
    static constexpr int kMax = 0x7FFF;

    // Seeds this thread's generator; other threads keep their own state.
    static void Seed(uint32_t seed);
    // The next value of this thread's sequence, 0 ... kMax.
    static int Next();

private:
    static thread_local uint32_t s_state;
};
