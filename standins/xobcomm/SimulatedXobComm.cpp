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
    : keyOpenFails_(reader.keyOpenFails), strongAccessFails_(reader.strongAccessFails), log_(std::move(log))
{
    if (const SimBus* bus = reader.FindBus(reader.lampPort, reader.lampAdapter))
        devices_ = bus->devices;
    commandsSeen_.assign(devices_.size(), 0);
}

uint8_t SimulatedXobComm::KeyOpen() noexcept
{
    const uint8_t result = keyOpenFails_ ? 0 : 1;
    if (result != 0) {
        open_ = true;
        nextDevice_ = 0;
        addressed_ = kNone;
    }
    Log("VtKeyOpen", {}, result, "rom " + FormatRom(rom_));
    return result;
}

uint8_t* SimulatedXobComm::RomData() noexcept
{
    log_.Append(FormatCall("VtROMData", {}, "buffer"));
    return rom_.data();
}

uint8_t SimulatedXobComm::OverdriveOff() noexcept
{
    const uint8_t result = open_ ? 1 : 0;
    Log("VtOverdriveOff", {}, result);
    return result;
}

uint8_t SimulatedXobComm::First() noexcept
{
    nextDevice_ = 0;
    const uint8_t result = Advance();
    Log("VtFirst", {}, result, "rom " + FormatRom(rom_));
    return result;
}

uint8_t SimulatedXobComm::Next() noexcept
{
    const uint8_t result = Advance();
    Log("VtNext", {}, result, "rom " + FormatRom(rom_));
    return result;
}

uint8_t SimulatedXobComm::Advance()
{
    if (!open_ || nextDevice_ >= devices_.size())
        return 0;
    rom_ = devices_[nextDevice_++].rom;
    return 1;
}

uint8_t SimulatedXobComm::StrongAccess() noexcept
{
    addressed_ = kNone;
    if (open_ && !strongAccessFails_) {
        const auto found = std::find_if(devices_.begin(), devices_.end(),
                                        [this](const SimDevice& device) { return device.rom == rom_; });
        if (found != devices_.end())
            addressed_ = static_cast<std::size_t>(found - devices_.begin());
    }
    const uint8_t result = addressed_ != kNone ? 1 : 0;
    Log("VtStrongAccess", {}, result, "rom " + FormatRom(rom_));
    return result;
}

uint8_t SimulatedXobComm::DataBlock(uint8_t* block, int32_t length) noexcept
{
    if (!open_ || addressed_ == kNone || block == nullptr || length <= 0) {
        Log("VtDataBlock", {block == nullptr ? "null" : "block", std::to_string(length)}, 0);
        return 0;
    }
    const auto count = static_cast<std::size_t>(length);
    const std::string sent = HexBytes(block, count);
    const SimDevice& device = devices_[addressed_];
    if (IsSwitch(device) && length == kSwitchBlockSize && block[0] == kSwitchCommand)
        AnswerSwitchCommand(block, addressed_);
    else
        std::fill_n(block, count, kIdleBus);
    Log("VtDataBlock", {sent, std::to_string(length)}, 1, "received " + HexBytes(block, count));
    return 1;
}

void SimulatedXobComm::AnswerSwitchCommand(uint8_t* block, std::size_t device)
{
    const int seen = ++commandsSeen_[device];
    const int wrong = devices_[device].wrongAnswers;
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
        log_.Append("switch " + FormatRom(devices_[device].rom) + " state " + state);
    }
}

uint8_t SimulatedXobComm::KeyClose() noexcept
{
    const uint8_t result = open_ ? 1 : 0;
    open_ = false;
    addressed_ = kNone;
    Log("VtKeyClose", {}, result, "rom " + FormatRom(rom_));
    return result;
}

void SimulatedXobComm::Log(const char* name, std::initializer_list<std::string_view> arguments, uint8_t result,
                           const std::string& detail) const
{
    if (!log_.Enabled())
        return;
    std::string line = FormatCall(name, arguments, std::to_string(result));
    if (!detail.empty())
        line += "; " + detail;
    log_.Append(line);
}
