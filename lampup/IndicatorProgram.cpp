#include "lampup/IndicatorProgram.h"

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

IndicatorProgram::IndicatorProgram(const TokenLibraries& libraries, SystemPause& pause)
    : m_libraries(libraries), m_pause(pause)
{
}

int IndicatorProgram::Run()
{
    m_libraries.SetXobSearchParamsEx(kSearchParamA, kSearchParamB, kSearchParamC);
    uint8_t xobCount = 0;
    const uint32_t found = m_libraries.FindXobs(&xobCount);
    if (xobCount == 0)
        return 0;
    m_libraries.SelectXob(found);
    m_libraries.GetFirmwareVersionString();

    if (FindIndicatorAndWrite() != 0)
        WriteIndicatorFinal();
    return 0;
}

int IndicatorProgram::FindIndicatorAndWrite()
{
    if (m_libraries.VtKeyOpen() == 0)
        return 0;

    int result = 0;
    uint8_t* rom = m_libraries.VtROMData();
    if (rom != nullptr) {
        const DeviceId saved = ReadId(rom);
        m_libraries.VtOverdriveOff();

        bool found = m_libraries.VtFirst() != 0;
        while (found && !IsIndicatorFamily(rom[0]))
            found = m_libraries.VtNext() != 0;
        if (found) {
            m_indicatorId = ReadId(rom);
            result = WriteSwitchState(m_indicatorId, kFirstSwitchState);
        }
        WriteId(rom, saved);
    }
    m_libraries.VtKeyClose();
    return result;
}

int IndicatorProgram::WriteIndicatorFinal()
{
    if (m_libraries.VtKeyOpen() == 0)
        return 0;
    m_libraries.VtOverdriveOff();
    const int result = WriteSwitchState(m_indicatorId, kFinalSwitchState);
    m_libraries.VtKeyClose();
    return result;
}

int IndicatorProgram::WriteSwitchState(std::span<const uint8_t, kDeviceIdSize> id, int value)
{
    uint8_t* rom = m_libraries.VtROMData();
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
        m_pause.Sleep(kRetryPauseMs);
        if (k >= kMaxAttempts - 1)
            break;
    }

    WriteId(rom, saved);
    return result;
}

bool IndicatorProgram::AttemptSwitchCommand(uint8_t state)
{
    if (m_libraries.VtStrongAccess() == 0)
        return false;

    m_crc16 = 0;
    std::array<uint8_t, kCommandBlockSize> block = {
        kSwitchCommand, kSwitchCommandArg1, kSwitchCommandArg2, state, 0xFF, 0xFF};
    // The check covers the bytes as sent; what comes back in their places is not examined.
    for (std::size_t i = 0; i < 4; ++i)
        Crc16Update(block[i]);

    if (m_libraries.VtDataBlock(block.data(), kCommandBlockSize) == 0)
        return false;
    Crc16Update(block[4]);
    Crc16Update(block[5]);
    return m_crc16 == kConfirmedResidue;
}

void IndicatorProgram::Crc16Update(int byte)
{
    const unsigned c = (m_crc16 ^ static_cast<unsigned>(byte)) & 0xFFu;
    unsigned accumulator = m_crc16 >> 8;
    if (kOddParity[c & 0x0F] != kOddParity[c >> 4])
        accumulator ^= 0xC001u;
    accumulator ^= (c << 6) ^ (c << 7);
    m_crc16 = static_cast<uint16_t>(accumulator & 0xFFFFu);
}

} // namespace lampup
