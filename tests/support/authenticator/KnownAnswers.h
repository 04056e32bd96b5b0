#pragma once
// Authenticators whose every character is known in advance, for the encoder's tests and the
// site's verifier alike: one token, three ticks.
#include "logon/Authenticator.h"

#include <cstdint>

namespace known_answers {

inline constexpr RomBytes kSampleRom = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct KnownAnswer {
    uint32_t tick;
    const char* authenticator;
};

// From an independent implementation; the three ticks need two, four and three key draws.
inline constexpr KnownAnswer kKnownAnswers[] = {
    {0, "E317F579ED676D7322FFBC36BB50C79EE59D768C24EBF858641BAA16B84DB240"},
    {12345, "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"},
    {2, "0E0096361755003A0E1E4BD924866E2A4CBD6D63D37FA2223A004A6AE889CEE4"},
};

} // namespace known_answers
