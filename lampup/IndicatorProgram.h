#pragma once
// The indicator program's whole run: find the indicator switch on the reader bus and send it
// two confirmed switch commands. The state the run carries from step to step (the switch's id
// and the running check value) lives in this object rather than in globals.
#include <array>
#include <cstdint>
#include <span>

#include "lampup/TokenLibraries.h"

namespace lampup {

inline constexpr std::size_t kDeviceIdSize = 8;
using DeviceId = std::array<uint8_t, kDeviceIdSize>;

inline constexpr uint8_t kIndicatorFamily = 0x12;
inline constexpr int kFirstSwitchState = 0x73;
inline constexpr int kFinalSwitchState = 0x53;
inline constexpr int kMaxAttempts = 11;
inline constexpr uint32_t kRetryPauseMs = 10;

class IndicatorProgram {
public:
    IndicatorProgram(const TokenLibraries& libraries, SystemPause& pause);

    // The program run: always 0, which becomes the exit status.
    int Run();

    // 1 when the switch was found and confirmed the first state; otherwise 0.
    int FindIndicatorAndWrite();
    // 1 when the switch remembered by the first step confirmed the final state; otherwise 0.
    int WriteIndicatorFinal();
    // One command to the device `id`, at most kMaxAttempts attempts: 1 when confirmed.
    int WriteSwitchState(std::span<const uint8_t, kDeviceIdSize> id, int value);
    // Advances the running CRC-16/ARC by the low 8 bits of `byte`.
    void Crc16Update(int byte);

    uint16_t Crc16() const { return m_crc16; }

private:
    bool AttemptSwitchCommand(uint8_t state);

    TokenLibraries m_libraries;
    SystemPause& m_pause;
    // The switch found by the first step, addressed again by the second.
    DeviceId m_indicatorId{};
    uint16_t m_crc16 = 0;
};

} // namespace lampup
