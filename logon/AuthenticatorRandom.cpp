#include "logon/AuthenticatorRandom.h"

// An unseeded generator starts as if seeded with 1.
thread_local uint32_t AuthenticatorRandom::s_state = 1;

void AuthenticatorRandom::Seed(uint32_t seed)
{
    s_state = seed;
}

int AuthenticatorRandom::Next()
{
    s_state = s_state * kMultiplier + kIncrement;
    return Output(s_state);
}
