#include "logon/AuthenticatorRandom.h"

// An unseeded generator starts as if seeded with 1.
thread_local uint32_t AuthenticatorRandom::s_state = 1;

void AuthenticatorRandom::Seed(uint32_t seed)
{
    s_state = seed;
}

int AuthenticatorRandom::Next()
{
    s_state = s_state * 214013u + 2531011u;
    return static_cast<int>((s_state >> 16) & kMax);
}
