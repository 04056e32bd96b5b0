#pragma once
// A scripted reader for lampup's logic: a bus of devices behind the token libraries, an
// indicator switch whose answers follow a script, and a log of every call in order.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "lampup/IndicatorProgram.h"
#include "tests/lampup/TokenLibraryTable.h"

namespace lampup {

enum class SwitchAnswer {
    Right,      // the check bytes that confirm the command
    Wrong,      // check bytes that do not
    BlockFails, // VtDataBlock reports failure
};

// CRC-16/ARC, bit by bit: an independent reference for the program's table-driven form.
inline uint16_t ReferenceCrc16(const std::vector<uint8_t>& bytes)
{
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

class FakeTokenLibraries final : public SystemPause {
public:
    // --- the script ---
    uint8_t xobCount = 1;
    uint32_t findResult = 0x00C0FFEE;
    std::deque<bool> keyOpenResults; // per call; empty means success
    bool strongAccessFails = false;
    bool romDataIsNull = false;
    std::vector<DeviceId> devices;
    std::deque<SwitchAnswer> answers; // per block sent to a switch; then `laterAnswers`
    SwitchAnswer laterAnswers = SwitchAnswer::Right;
    // Bytes the fake writes into positions 0 to 3 of every block it answers, when set.
    std::vector<uint8_t> echoOverride;
    // The check bytes answer the overriding bytes rather than the bytes sent.
    bool answerMatchesEcho = false;
    // What the library's buffer holds before the program touches it.
    DeviceId rom = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};

    // --- what happened ---
    std::vector<std::string> calls;
    std::vector<DeviceId> romAtOpen;  // buffer right after each successful VtKeyOpen
    std::vector<DeviceId> romAtClose; // buffer at each VtKeyClose
    std::vector<DeviceId> addressed;  // buffer at each VtStrongAccess
    std::vector<std::vector<uint8_t>> blocksSent;
    int sessionsOpen = 0;

    int Count(const std::string& call) const
    {
        int n = 0;
        for (const auto& c : calls)
            n += c == call ? 1 : 0;
        return n;
    }

    void SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c)
    {
        calls.push_back("SetXobSearchParamsEx " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c));
    }

    uint32_t FindXobs(uint8_t* count)
    {
        calls.push_back(std::string("FindXobs ") + (*count == 0 ? "zeroed" : "dirty"));
        *count = xobCount;
        return findResult;
    }

    void SelectXob(uint32_t found) { calls.push_back("SelectXob " + Hex32(found)); }

    const char* GetFirmwareVersionString()
    {
        calls.push_back("GetFirmwareVersionString");
        return "fake 1.0";
    }

    uint8_t VtKeyOpen()
    {
        calls.push_back("VtKeyOpen");
        bool ok = true;
        if (!keyOpenResults.empty()) {
            ok = keyOpenResults.front();
            keyOpenResults.pop_front();
        }
        if (!ok)
            return 0;
        ++sessionsOpen;
        romAtOpen.push_back(rom);
        m_next = 0;
        return 1;
    }

    uint8_t* VtROMData()
    {
        calls.push_back("VtROMData");
        return romDataIsNull ? nullptr : rom.data();
    }

    uint8_t VtOverdriveOff()
    {
        calls.push_back("VtOverdriveOff");
        return 1;
    }

    uint8_t VtFirst()
    {
        calls.push_back("VtFirst");
        m_next = 0;
        return NextDevice();
    }

    uint8_t VtNext()
    {
        calls.push_back("VtNext");
        return NextDevice();
    }

    uint8_t VtStrongAccess()
    {
        calls.push_back("VtStrongAccess");
        addressed.push_back(rom);
        m_addressedSwitch = false;
        if (strongAccessFails || sessionsOpen == 0)
            return 0;
        for (const auto& d : devices) {
            if (d == rom) {
                m_addressedSwitch = (d[0] & 0x7F) == 0x12;
                return 1;
            }
        }
        return 0;
    }

    uint8_t VtDataBlock(uint8_t* block, int32_t length)
    {
        std::vector<uint8_t> sent(block, block + length);
        blocksSent.push_back(sent);
        std::string text = "VtDataBlock";
        for (uint8_t b : sent)
            text += " " + Hex8(b);
        calls.push_back(text);
        if (length != 6 || !m_addressedSwitch)
            return 0;

        SwitchAnswer answer = laterAnswers;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        if (answer == SwitchAnswer::BlockFails)
            return 0;
        if (answerMatchesEcho)
            Echo(block);
        const uint16_t check = static_cast<uint16_t>(~ReferenceCrc16({block[0], block[1], block[2], block[3]}));
        block[4] = static_cast<uint8_t>(check & 0xFF);
        block[5] = static_cast<uint8_t>(check >> 8);
        if (answer == SwitchAnswer::Wrong)
            block[5] ^= 0x01;
        Echo(block);
        return 1;
    }

    uint8_t VtKeyClose()
    {
        calls.push_back("VtKeyClose");
        romAtClose.push_back(rom);
        --sessionsOpen;
        return 1;
    }

    void Sleep(uint32_t milliseconds) override { calls.push_back("Sleep " + std::to_string(milliseconds)); }

private:
    static std::string Hex8(uint8_t v)
    {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", v);
        return text;
    }

    static std::string Hex32(uint32_t v)
    {
        char text[9];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(v));
        return text;
    }

    void Echo(uint8_t* block) const
    {
        for (std::size_t i = 0; i < echoOverride.size() && i < 4; ++i)
            block[i] = echoOverride[i];
    }

    uint8_t NextDevice()
    {
        if (sessionsOpen == 0 || m_next >= devices.size())
            return 0;
        rom = devices[m_next++];
        return 1;
    }

    std::size_t m_next = 0;
    bool m_addressedSwitch = false;
};

} // namespace lampup
