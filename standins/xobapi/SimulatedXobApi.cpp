#include "standins/xobapi/SimulatedXobApi.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr uint32_t kFindHandleBase = 0x584F0000;
constexpr int kMaxCount = 255; // the count is one byte
constexpr const char* kFirmwareVersion = "Xob stand-in 1.00";

std::string Hex32(uint32_t value)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

} // namespace

uint32_t FindHandle(uint8_t count)
{
    return kFindHandleBase | count;
}

SimulatedXobApi::SimulatedXobApi(const ReaderDescription& reader, CallLog log)
    : m_xobCount(static_cast<uint8_t>(std::clamp(reader.xobs, 0, kMaxCount))), m_log(std::move(log))
{
}

void SimulatedXobApi::SetSearchParams(int32_t a, int32_t b, int32_t c) noexcept
{
    m_log.Append(FormatCall("SetXobSearchParamsEx", {std::to_string(a), std::to_string(b), std::to_string(c)}, "none"));
}

uint32_t SimulatedXobApi::Find(uint8_t* count) noexcept
{
    if (count == nullptr) {
        m_log.Append(FormatCall("FindXobs", {"null"}, Hex32(0)));
        return 0;
    }
    const std::string before = std::to_string(*count);
    *count = m_xobCount;
    const uint32_t handle = FindHandle(m_xobCount);
    m_log.Append(FormatCall("FindXobs", {before}, Hex32(handle)) + "; count " + std::to_string(*count));
    return handle;
}

void SimulatedXobApi::Select(uint32_t found) noexcept
{
    m_log.Append(FormatCall("SelectXob", {Hex32(found)}, "none"));
}

const char* SimulatedXobApi::FirmwareVersion() noexcept
{
    m_log.Append(FormatCall("GetFirmwareVersionString", {}, std::string("\"") + kFirmwareVersion + "\""));
    return kFirmwareVersion;
}
