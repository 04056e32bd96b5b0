#pragma once
// The stand-in Xob token library: a token search that finds the reader description's "xobs"
// count of tokens, and a selection and firmware query that only leave their trace in the log.
#include <cstdint>

#include "standins/common/CallLog.h"
#include "standins/common/ReaderDescription.h"

class SimulatedXobApi {
public:
    SimulatedXobApi(const ReaderDescription& reader, CallLog log);

    void SetSearchParams(int32_t a, int32_t b, int32_t c) noexcept;
    uint32_t Find(uint8_t* count) noexcept;
    void Select(uint32_t found) noexcept;
    const char* FirmwareVersion() noexcept;

private:
    uint8_t m_xobCount = 0;
    CallLog m_log;
};

// What a search that found `count` tokens returns: a value that names the search, never 0.
uint32_t FindHandle(uint8_t count);
