#include "logon/Authenticator.h"

#include "logon/AuthenticatorRandom.h"

namespace {

using Block = AuthenticatorBlock;
constexpr std::size_t kBlockSize = std::tuple_size_v<Block>;
using Key = std::array<uint8_t, 4>; // K0 ... K3, least significant first

// Where the key bytes K0 ... K3 sit in the block.
constexpr std::array<std::size_t, 4> kKeyPositions = {24, 28, 20, 0};

constexpr std::size_t RomPosition(std::size_t romIndex)
{
    return 2 + 2 * romIndex;
}

// 255 only for the largest value: the scale is part of the format, not a fair byte.
uint8_t RandomByte()
{
    return static_cast<uint8_t>(AuthenticatorRandom::Next() * 255 / AuthenticatorRandom::kMax);
}

// Read as a little-endian signed 32-bit number, the key must be above zero.
bool IsPositive(const Key& key)
{
    const bool anyBitSet = (key[0] | key[1] | key[2] | key[3]) != 0;
    return key[3] < 0x80 && anyBitSet;
}

Key DrawPositiveKey()
{
    Key key{};
    do {
        for (uint8_t& byte : key)
            byte = RandomByte();
    } while (!IsPositive(key));
    return key;
}

void MirrorPass(Block& block)
{
    for (std::size_t j = 0; j < kBlockSize; j += 2)
        block[j] ^= block[kBlockSize - 1 - j];
}

void ChainPass(Block& block)
{
    for (std::size_t i = 0; i + 1 < kBlockSize; ++i)
        block[i] ^= block[i + 1];
}

void UndoChainPass(Block& block)
{
    for (std::size_t i = kBlockSize - 1; i-- > 0;)
        block[i] ^= block[i + 1];
}

// Each byte is written low-nibble digit first.
std::string ToText(const Block& block)
{
    std::string text;
    text.reserve(kAuthenticatorLength);
    for (const uint8_t byte : block) {
        text += kUpperHexDigits[byte & 0x0F];
        text += kUpperHexDigits[byte >> 4];
    }
    return text;
}

std::optional<Block> FromText(std::string_view text)
{
    if (text.size() != kAuthenticatorLength)
        return std::nullopt;
    Block block{};
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        const int low = HexDigitValue(text[2 * i]);
        const int high = HexDigitValue(text[2 * i + 1]);
        if (low < 0 || high < 0)
            return std::nullopt;
        block[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return block;
}

} // namespace

std::string EncodeAuthenticator(const RomRecord& rom, uint32_t tickCount)
{
    AuthenticatorRandom::Seed(tickCount);
    Block block{};
    for (uint8_t& byte : block)
        byte = RandomByte();
    const Key key = DrawPositiveKey();
    for (std::size_t k = 0; k < key.size(); ++k)
        block[kKeyPositions[k]] = key[k];
    for (std::size_t i = 0; i < 8; ++i)
        block[RomPosition(i)] = static_cast<uint8_t>((rom.cells[i] & 0xFF) ^ key[i / 2]);
    MirrorPass(block);
    ChainPass(block);
    return ToText(block);
}

std::optional<AuthenticatorBlock> UnmixAuthenticator(std::string_view text)
{
    auto block = FromText(text);
    if (!block)
        return std::nullopt;
    UndoChainPass(*block);
    MirrorPass(*block); // its own inverse: it changes even bytes only, from odd ones
    return block;
}

std::optional<RomBytes> DecodeAuthenticator(std::string_view text)
{
    const auto block = UnmixAuthenticator(text);
    if (!block)
        return std::nullopt;
    Key key{};
    for (std::size_t k = 0; k < key.size(); ++k)
        key[k] = (*block)[kKeyPositions[k]];
    if (!IsPositive(key))
        return std::nullopt;
    RomBytes rom{};
    for (std::size_t i = 0; i < rom.size(); ++i)
        rom[i] = static_cast<uint8_t>((*block)[RomPosition(i)] ^ key[i / 2]);
    return rom;
}
