#pragma once
// The seam between lampup's decisions and the maker's two token libraries (plus the one system
// call it makes). The program builds on this interface only, so the whole run can be driven by
// a scripted fake; the Windows adapter forwards each call unchanged to the linked libraries.
#include <cstdint>

namespace lampup {

class TokenLibraries {
public:
    virtual ~TokenLibraries() = default;

    // XOBAPI: the Xob token search.
    virtual void SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c) = 0;
    virtual uint32_t FindXobs(uint8_t* count) = 0;
    virtual void SelectXob(uint32_t found) = 0;
    virtual const char* GetFirmwareVersionString() = 0;

    // XobComm: bus sessions and device traffic. Truth values are one byte, non-zero is success.
    virtual uint8_t VtKeyOpen() = 0;
    virtual uint8_t* VtROMData() = 0;
    virtual uint8_t VtOverdriveOff() = 0;
    virtual uint8_t VtFirst() = 0;
    virtual uint8_t VtNext() = 0;
    virtual uint8_t VtStrongAccess() = 0;
    virtual uint8_t VtDataBlock(uint8_t* block, int32_t length) = 0;
    virtual uint8_t VtKeyClose() = 0;
};

// The pause between failed command attempts, injectable so tests do not really wait.
class SystemPause {
public:
    virtual ~SystemPause() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

} // namespace lampup
