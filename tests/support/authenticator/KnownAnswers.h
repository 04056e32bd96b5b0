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

// From an independent implementation; the first three ticks need two, four and three key
// draws. The others sit at the edges: at tick 152 a key draw's top byte is exactly 0x80 (not
// positive, so drawn again); at 604 the verifier's seed lies at the top of its first output
// range, and at 145 in a bucket range that wraps past the table's end.
inline constexpr KnownAnswer kKnownAnswers[] = {
    {0, "E317F579ED676D7322FFBC36BB50C79EE59D768C24EBF858641BAA16B84DB240"},
    {12345, "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"},
    {2, "0E0096361755003A0E1E4BD924866E2A4CBD6D63D37FA2223A004A6AE889CEE4"},
    {152, "F419732E1C144B39D9A1C7805C20827AA0317C3A5F0E4793C3C775C0BF06AF01"},
    {604, "8FE2BE3B09AB104D842132349ED9F83DDA9B4C8EAA3A6EFD82BFBDCF68287AE9"},
    {145, "123A5EF09382B92932C18A87C47CAC988ED5383D12AD07289AF6F6B5391AD1C8"},
};

} // namespace known_answers
