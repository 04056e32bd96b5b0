#pragma once
// The agent's generator seen from outside: jumps of several steps at once and the way back.
// Every state here is taken modulo 2^32, but bit 31 never reaches an output, so only the low
// 31 bits of a state can ever be known.
#include "logon/AuthenticatorRandom.h"

#include <cstdint>

namespace generator {

inline constexpr uint32_t kOutputMask = AuthenticatorRandom::kMax;
inline constexpr uint32_t kKnowableBits = 0x7FFFFFFF;

// n steps at once are again one multiply and one add.
struct Jump {
    uint32_t multiplier;
    uint32_t increment;
};

constexpr Jump JumpOf(unsigned steps)
{
    Jump jump{1, 0};
    for (unsigned i = 0; i < steps; ++i)
        jump = {jump.multiplier * AuthenticatorRandom::kMultiplier,
                jump.increment * AuthenticatorRandom::kMultiplier + AuthenticatorRandom::kIncrement};
    return jump;
}

constexpr uint32_t Apply(Jump jump, uint32_t state)
{
    return jump.multiplier * state + jump.increment;
}

constexpr uint32_t Output(uint32_t state)
{
    return static_cast<uint32_t>(AuthenticatorRandom::Output(state));
}

// Odd numbers are invertible modulo 2^32; Newton's iteration doubles the correct bits each round.
constexpr uint32_t InverseOf(uint32_t odd)
{
    uint32_t inverse = odd;
    for (int round = 0; round < 5; ++round)
        inverse *= 2 - odd * inverse;
    return inverse;
}

// The state before jump.
constexpr uint32_t Undo(Jump jump, uint32_t state)
{
    return InverseOf(jump.multiplier) * (state - jump.increment);
}

static_assert(InverseOf(AuthenticatorRandom::kMultiplier) * AuthenticatorRandom::kMultiplier == 1);
static_assert(Undo(JumpOf(7), Apply(JumpOf(7), 123456789u)) == 123456789u);

} // namespace generator
