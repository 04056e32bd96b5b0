#pragma once
// The stand-in token communication library: one simulated bus (the reader description's
// "lampbus"), a search over its devices, addressing by the ROM buffer, and indicator switches
// that answer command blocks with CRC-16 check bytes, right or (as described) wrong.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "standins/common/CallLog.h"
#include "standins/common/ReaderDescription.h"

class SimulatedXobComm {
public:
    SimulatedXobComm(const ReaderDescription& reader, CallLog log);

    uint8_t KeyOpen() noexcept;
    uint8_t* RomData() noexcept;
    uint8_t OverdriveOff() noexcept;
    uint8_t First() noexcept;
    uint8_t Next() noexcept;
    uint8_t StrongAccess() noexcept;
    uint8_t DataBlock(uint8_t* block, int32_t length) noexcept;
    uint8_t KeyClose() noexcept;

private:
    uint8_t Advance();
    void AnswerSwitchCommand(uint8_t* block, std::size_t device);
    void Log(const char* name, std::initializer_list<std::string_view> arguments, uint8_t result,
             const std::string& detail = {}) const;

    std::vector<SimDevice> m_devices;
    std::vector<int> m_commandsSeen; // per device: command blocks received so far
    bool m_keyOpenFails = false;
    bool m_strongAccessFails = false;
    CallLog m_log;

    std::array<uint8_t, 8> m_rom{};
    bool m_open = false;
    std::size_t m_nextDevice = 0;
    std::size_t m_addressed = kNone;

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
};

// CRC-16/ARC (reflected 0x8005, initial 0, no final inversion) of the given bytes.
uint16_t Crc16Arc(const uint8_t* bytes, std::size_t count);
