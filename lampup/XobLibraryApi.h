#pragma once
// The maker's token libraries "XobComm.dll" and "XOBAPI.dll" as lampup.exe links against them
// and as their stand-ins export them: stdcall, exported under plain undecorated names.
#include <windows.h>

#include <cstdint>

extern "C" {
// XobComm.dll
uint8_t WINAPI VtKeyOpen(void);
uint8_t* WINAPI VtROMData(void);
uint8_t WINAPI VtOverdriveOff(void);
uint8_t WINAPI VtFirst(void);
uint8_t WINAPI VtNext(void);
uint8_t WINAPI VtStrongAccess(void);
uint8_t WINAPI VtDataBlock(uint8_t* block, int32_t length);
uint8_t WINAPI VtKeyClose(void);

// XOBAPI.dll
void WINAPI SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c);
uint32_t WINAPI FindXobs(uint8_t* count);
void WINAPI SelectXob(uint32_t found);
const char* WINAPI GetFirmwareVersionString(void);
}
