#pragma once
// The linked token libraries and the system pause behind lampup's seam.
#include "TokenLibraries.h"

namespace lampup {

class Win32TokenLibraries final : public TokenLibraries {
public:
    void SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c) override;
    uint32_t FindXobs(uint8_t* count) override;
    void SelectXob(uint32_t found) override;
    const char* GetFirmwareVersionString() override;

    uint8_t VtKeyOpen() override;
    uint8_t* VtROMData() override;
    uint8_t VtOverdriveOff() override;
    uint8_t VtFirst() override;
    uint8_t VtNext() override;
    uint8_t VtStrongAccess() override;
    uint8_t VtDataBlock(uint8_t* block, int32_t length) override;
    uint8_t VtKeyClose() override;
};

class Win32SystemPause final : public SystemPause {
public:
    void Sleep(uint32_t milliseconds) override;
};

} // namespace lampup
