#include "Win32TokenLibraries.h"

#include "XobLibraryApi.h"

namespace lampup {

void Win32TokenLibraries::SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c) { ::SetXobSearchParamsEx(a, b, c); }
uint32_t Win32TokenLibraries::FindXobs(uint8_t* count) { return ::FindXobs(count); }
void Win32TokenLibraries::SelectXob(uint32_t found) { ::SelectXob(found); }
const char* Win32TokenLibraries::GetFirmwareVersionString() { return ::GetFirmwareVersionString(); }

uint8_t Win32TokenLibraries::VtKeyOpen() { return ::VtKeyOpen(); }
uint8_t* Win32TokenLibraries::VtROMData() { return ::VtROMData(); }
uint8_t Win32TokenLibraries::VtOverdriveOff() { return ::VtOverdriveOff(); }
uint8_t Win32TokenLibraries::VtFirst() { return ::VtFirst(); }
uint8_t Win32TokenLibraries::VtNext() { return ::VtNext(); }
uint8_t Win32TokenLibraries::VtStrongAccess() { return ::VtStrongAccess(); }
uint8_t Win32TokenLibraries::VtDataBlock(uint8_t* block, int32_t length) { return ::VtDataBlock(block, length); }
uint8_t Win32TokenLibraries::VtKeyClose() { return ::VtKeyClose(); }

void Win32SystemPause::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

} // namespace lampup
