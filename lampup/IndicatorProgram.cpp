#include "IndicatorProgram.h"

#include <algorithm>

namespace lampup {
namespace {

// What the Xob search is asked for; the values are the token library's own.
constexpr int32_t kSearchParamA = 0;
constexpr int32_t kSearchParamB = 0;
constexpr int32_t kSearchParamC = 132;

constexpr uint8_t kSwitchCommand = 0x55;
constexpr uint8_t kSwitchCommandArg1 = 0x07;
constexpr uint8_t kSwitchCommandArg2 = 0x00;
constexpr int32_t kCommandBlockSize = 6;
// CRC-16/ARC over a message followed by its complemented CRC (low byte first) always ends here.
constexpr uint16_t kConfirmedResidue = 0xB001;

// Entry i is 1 when i has an odd number of set bits.
constexpr std::array<uint8_t, 16> kOddParity = {0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0};

bool IsIndicatorFamily(uint8_t familyByte)
{
    return (familyByte & 0x7F) == kIndicatorFamily;
}

DeviceId ReadId(const uint8_t* buffer)
{
    DeviceId id;
    std::copy_n(buffer, kDeviceIdSize, id.begin());
    return id;
}

void WriteId(uint8_t* buffer, std::span<const uint8_t, kDeviceIdSize> id)
{
    std::copy(id.begin(), id.end(), buffer);
}

} // namespace

IndicatorProgram::IndicatorProgram(TokenLibraries& libraries, SystemPause& pause)
    : libraries_(libraries), pause_(pause)
{
}

int IndicatorProgram::Run()
{
    libraries_.SetXobSearchParamsEx(kSearchParamA, kSearchParamB, kSearchParamC);
    uint8_t xobCount = 0;
    const uint32_t found = libraries_.FindXobs(&xobCount);
    if (xobCount == 0)
        return 0;
    libraries_.SelectXob(found);
    libraries_.GetFirmwareVersionString();

    if (FindIndicatorAndWrite() != 0)
        WriteIndicatorFinal();
    return 0;
}

int IndicatorProgram::FindIndicatorAndWrite()
{
    if (libraries_.VtKeyOpen() == 0)
        return 0;

    int result = 0;
    uint8_t* rom = libraries_.VtROMData();
    if (rom != nullptr) {
        const DeviceId saved = ReadId(rom);
        libraries_.VtOverdriveOff();

        bool found = libraries_.VtFirst() != 0;
        while (found && !IsIndicatorFamily(rom[0]))
            found = libraries_.VtNext() != 0;
        if (found) {
            IndicatorId = ReadId(rom);
            result = WriteSwitchState(IndicatorId, kFirstSwitchState);
        }
        WriteId(rom, saved);
    }
    libraries_.VtKeyClose();
    return result;
}

int IndicatorProgram::WriteIndicatorFinal()
{
    if (libraries_.VtKeyOpen() == 0)
        return 0;
    libraries_.VtOverdriveOff();
    const int result = WriteSwitchState(IndicatorId, kFinalSwitchState);
    libraries_.VtKeyClose();
    return result;
}

int IndicatorProgram::WriteSwitchState(std::span<const uint8_t, kDeviceIdSize> id, int value)
{
    uint8_t* rom = libraries_.VtROMData();
    // Without the library's buffer the device cannot be addressed; sending anyway would reach
    // whatever device the buffer last named.
    if (rom == nullptr)
        return 0;
    const DeviceId saved = ReadId(rom);
    WriteId(rom, id);

    const auto state = static_cast<uint8_t>(value & 0xFF);
    int result = 0;
    for (int16_t k = 0;; ++k) {
        if (AttemptSwitchCommand(state)) {
            result = 1;
            break;
        }
        pause_.Sleep(kRetryPauseMs);
        if (k >= kMaxAttempts - 1)
            break;
    }

    WriteId(rom, saved);
    return result;
}

bool IndicatorProgram::AttemptSwitchCommand(uint8_t state)
{
    if (libraries_.VtStrongAccess() == 0)
        return false;

    Crc16Accumulator = 0;
    std::array<uint8_t, kCommandBlockSize> block = {kSwitchCommand, kSwitchCommandArg1, kSwitchCommandArg2,
                                                    state, 0xFF, 0xFF};
    // The check covers the bytes as sent; what comes back in their places is not examined.
    for (std::size_t i = 0; i < 4; ++i)
        Crc16Update(block[i]);

    if (libraries_.VtDataBlock(block.data(), kCommandBlockSize) == 0)
        return false;
    Crc16Update(block[4]);
    Crc16Update(block[5]);
    return Crc16Accumulator == kConfirmedResidue;
}

void IndicatorProgram::Crc16Update(int byte)
{
    const unsigned c = (Crc16Accumulator ^ static_cast<unsigned>(byte)) & 0xFFu;
    unsigned accumulator = Crc16Accumulator >> 8;
    if (kOddParity[c & 0x0F] != kOddParity[c >> 4])
        accumulator ^= 0xC001u;
    accumulator ^= (c << 6) ^ (c << 7);
    Crc16Accumulator = static_cast<uint16_t>(accumulator & 0xFFFFu);
}

} // namespace lampup
