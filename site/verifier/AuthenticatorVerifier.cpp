#include "site/verifier/AuthenticatorVerifier.h"

#include "site/verifier/Generator.h"
#include "site/verifier/LowBucketTable.h"

#include <algorithm>
#include <array>

constexpr LowBucketTable kLowBucketTable = BuildLowBucketTable();

namespace {

using Block = AuthenticatorBlock;
constexpr std::size_t kBlockSize = std::tuple_size_v<Block>;

// Block byte i is the generator's draw i + 1. After decoding, the draws still visible are the
// odd bytes and the four even ones that neither the key nor the ROM covers.
constexpr std::array<bool, kBlockSize> VisibleBytes()
{
    std::array<bool, kBlockSize> visible{};
    for (std::size_t i = 1; i < kBlockSize; i += 2)
        visible[i] = true;
    for (const std::size_t i : {18, 22, 26, 30})
        visible[i] = true;
    return visible;
}
constexpr std::array<bool, kBlockSize> kVisible = VisibleBytes();

// The first three visible draws drive the search; the rest only confirm.
constexpr std::size_t kFirstByte = 1;
constexpr std::size_t kSecondByte = 3;
constexpr std::size_t kThirdByte = 5;

// The generator outputs whose scaled byte (output * 255 / 32767, truncated) is a given value.
struct OutputRange {
    uint32_t low;
    uint32_t count;

    bool Holds(uint32_t output) const { return output - low < count; }
};

constexpr uint32_t kOutputMax = generator::kOutputMask;

constexpr OutputRange RangeOf(uint8_t byte)
{
    const auto ceilScaled = [](uint32_t v) { return (v * kOutputMax + 254) / 255; };
    const uint32_t low = ceilScaled(byte);
    const uint32_t end = std::min(ceilScaled(byte + 1u), kOutputMax + 1);
    return {low, end - low};
}

static_assert(RangeOf(0).low == 0 && RangeOf(255).low == kOutputMax && RangeOf(255).count == 1);

constexpr generator::Jump kStep = generator::JumpOf(1);
constexpr generator::Jump kTwoSteps = generator::JumpOf(2);
constexpr generator::Jump kFourSteps = generator::JumpOf(4);

// Steps on from the first visible draw through the whole block.
bool FitsLaterBytes(uint32_t state, const Block& block)
{
    for (std::size_t i = kFirstByte + 1; i < kBlockSize; ++i) {
        state = generator::Apply(kStep, state);
        if (kVisible[i] && !RangeOf(block[i]).Holds(generator::Output(state)))
            return false;
    }
    return true;
}

// Calls visit(state) for every state at the first visible draw (low 31 bits) whose outputs fit
// all visible bytes, until visit returns true.
template <typename Visit>
void SearchStates(const Block& block, Visit visit)
{
    const OutputRange first = RangeOf(block[kFirstByte]);
    const OutputRange second = RangeOf(block[kSecondByte]);
    const OutputRange third = RangeOf(block[kThirdByte]);
    const auto& table = kLowBucketTable;

    // The bits 16-30 of the state are the output itself.
    for (uint32_t high = first.low; high < first.low + first.count; ++high) {
        const uint32_t start = (second.low - kTwoSteps.multiplier * high) & kOutputMax;
        const uint32_t last = start + second.count - 1;
        // The bucket range may wrap past 2^15 - 1: then it is two slices.
        const std::array<std::array<uint32_t, 2>, 2> slices = {{
            {table.Begin(start), table.Begin(std::min(last, kOutputMax) + 1)},
            {table.Begin(0), last > kOutputMax ? table.Begin(last - kOutputMax) : table.Begin(0)},
        }};
        for (const auto& [begin, end] : slices) {
            for (uint32_t i = begin; i < end; ++i) {
                const uint32_t state = high << 16 | table.lows[i];
                if (!third.Holds(generator::Output(generator::Apply(kFourSteps, state))))
                    continue;
                if (FitsLaterBytes(state, block) && visit(state))
                    return;
            }
        }
    }
}

RomRecord RecordOf(const RomBytes& rom)
{
    RomRecord record{};
    for (std::size_t i = 0; i < rom.size(); ++i)
        record.cells[i] = rom[i];
    return record;
}

} // namespace

Verification VerifyAuthenticator(std::string_view text)
{
    const auto block = UnmixAuthenticator(text);
    if (!block)
        return {};
    Verification verification{Verdict::NotGenuine, DecodeAuthenticator(text), 0};
    if (!verification.identity)
        return verification;

    // Each state left by the search gives one seed. Two seeds making the very same string are
    // all but impossible; should it happen, the search order is fixed, so the same string
    // always yields the same seed and a replay is still caught.
    const RomRecord rom = RecordOf(*verification.identity);
    SearchStates(*block, [&](uint32_t state) {
        const uint32_t seed = generator::Undo(kTwoSteps, state) & generator::kKnowableBits;
        if (EncodeAuthenticator(rom, seed) != text)
            return false;
        verification.verdict = Verdict::Genuine;
        verification.seed = seed;
        return true;
    });
    return verification;
}
