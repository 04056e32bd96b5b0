#include "standins/xobcomm/SimulatedXobComm.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t kSwitchFamily = 0x12;
constexpr uint8_t kSwitchCommand = 0x55;
constexpr int32_t kSwitchBlockSize = 6;
// What a read returns where no device drives the bus.
constexpr uint8_t kIdleBus = 0xFF;

bool IsSwitch(const SimDevice& device)
{
    return (device.rom[0] & 0x7F) == kSwitchFamily;
}

std::string HexBytes(const uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char cell[4];
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += cell;
    }
    return text;
}

} // namespace

uint16_t Crc16Arc(const uint8_t* bytes, std::size_t count)
{
    uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

SimulatedXobComm::SimulatedXobComm(const ReaderDescription& reader, CallLog log)
    : m_keyOpenFails(reader.keyOpenFails), m_strongAccessFails(reader.strongAccessFails), m_log(std::move(log))
{
    if (const SimBus* bus = reader.FindBus(reader.lampPort, reader.lampAdapter))
        m_devices = bus->devices;
    m_commandsSeen.assign(m_devices.size(), 0);
}

uint8_t SimulatedXobComm::KeyOpen() noexcept
{
    const uint8_t result = m_keyOpenFails ? 0 : 1;
    if (result != 0) {
        m_open = true;
        m_nextDevice = 0;
        m_addressed = kNone;
    }
    Log("VtKeyOpen", {}, result, "rom " + FormatRom(m_rom));
    return result;
}

uint8_t* SimulatedXobComm::RomData() noexcept
{
    m_log.Append(FormatCall("VtROMData", {}, "buffer"));
    return m_rom.data();
}

uint8_t SimulatedXobComm::OverdriveOff() noexcept
{
    const uint8_t result = m_open ? 1 : 0;
    Log("VtOverdriveOff", {}, result);
    return result;
}

uint8_t SimulatedXobComm::First() noexcept
{
    m_nextDevice = 0;
    const uint8_t result = Advance();
    Log("VtFirst", {}, result, "rom " + FormatRom(m_rom));
    return result;
}

uint8_t SimulatedXobComm::Next() noexcept
{
    const uint8_t result = Advance();
    Log("VtNext", {}, result, "rom " + FormatRom(m_rom));
    return result;
}

uint8_t SimulatedXobComm::Advance()
{
    if (!m_open || m_nextDevice >= m_devices.size())
        return 0;
    m_rom = m_devices[m_nextDevice++].rom;
    return 1;
}

uint8_t SimulatedXobComm::StrongAccess() noexcept
{
    m_addressed = kNone;
    if (m_open && !m_strongAccessFails) {
        const auto found = std::find_if(m_devices.begin(), m_devices.end(),
                                        [this](const SimDevice& device) { return device.rom == m_rom; });
        if (found != m_devices.end())
            m_addressed = static_cast<std::size_t>(found - m_devices.begin());
    }
    const uint8_t result = m_addressed != kNone ? 1 : 0;
    Log("VtStrongAccess", {}, result, "rom " + FormatRom(m_rom));
    return result;
}

uint8_t SimulatedXobComm::DataBlock(uint8_t* block, int32_t length) noexcept
{
    if (!m_open || m_addressed == kNone || block == nullptr || length <= 0) {
        Log("VtDataBlock", {block == nullptr ? "null" : "block", std::to_string(length)}, 0);
        return 0;
    }
    const auto count = static_cast<std::size_t>(length);
    const std::string sent = HexBytes(block, count);
    const SimDevice& device = m_devices[m_addressed];
    if (IsSwitch(device) && length == kSwitchBlockSize && block[0] == kSwitchCommand)
        AnswerSwitchCommand(block, m_addressed);
    else
        std::fill_n(block, count, kIdleBus);
    Log("VtDataBlock", {sent, std::to_string(length)}, 1, "received " + HexBytes(block, count));
    return 1;
}

void SimulatedXobComm::AnswerSwitchCommand(uint8_t* block, std::size_t device)
{
    const int seen = ++m_commandsSeen[device];
    const int wrong = m_devices[device].wrongAnswers;
    const bool answersRight = wrong != kWrongAlways && seen > wrong;

    // The switch confirms with the complemented CRC of the four bytes it received, low byte
    // first; a wrong answer leaves the complement out.
    const uint16_t crc = Crc16Arc(block, 4);
    const uint16_t check = answersRight ? static_cast<uint16_t>(~crc) : crc;
    block[4] = static_cast<uint8_t>(check & 0xFF);
    block[5] = static_cast<uint8_t>(check >> 8);
    if (answersRight) {
        char state[3];
        std::snprintf(state, sizeof state, "%02X", block[3]);
        m_log.Append("switch " + FormatRom(m_devices[device].rom) + " state " + state);
    }
}

uint8_t SimulatedXobComm::KeyClose() noexcept
{
    const uint8_t result = m_open ? 1 : 0;
    m_open = false;
    m_addressed = kNone;
    Log("VtKeyClose", {}, result, "rom " + FormatRom(m_rom));
    return result;
}

void SimulatedXobComm::Log(const char* name, std::initializer_list<std::string_view> arguments, uint8_t result,
                           const std::string& detail) const
{
    if (!m_log.Enabled())
        return;
    std::string line = FormatCall(name, arguments, std::to_string(result));
    if (!detail.empty())
        line += "; " + detail;
    m_log.Append(line);
}
