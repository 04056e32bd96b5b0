#pragma once
// The maker's token libraries "XobComm.dll" and "XOBAPI.dll": each function lampup.exe calls,
// declared once, and one list of them from which the program's table of calls is made. The
// stand-ins define these same declarations. All are stdcall, exported under plain names.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define XOBAPI_CALL __stdcall
#else
#define XOBAPI_CALL
#endif

extern "C" {
// XobComm.dll: bus sessions and device traffic. Truth values are one byte, non-zero is success.
uint8_t XOBAPI_CALL VtKeyOpen(void);
uint8_t* XOBAPI_CALL VtROMData(void);
uint8_t XOBAPI_CALL VtOverdriveOff(void);
uint8_t XOBAPI_CALL VtFirst(void);
uint8_t XOBAPI_CALL VtNext(void);
uint8_t XOBAPI_CALL VtStrongAccess(void);
uint8_t XOBAPI_CALL VtDataBlock(uint8_t* block, int32_t length);
uint8_t XOBAPI_CALL VtKeyClose(void);

// XOBAPI.dll: the Xob token search.
void XOBAPI_CALL SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c);
uint32_t XOBAPI_CALL FindXobs(uint8_t* count);
void XOBAPI_CALL SelectXob(uint32_t found);
const char* XOBAPI_CALL GetFirmwareVersionString(void);
}

// Every function of both libraries that lampup calls.
#define TOKEN_LIBRARY_FUNCTIONS(X)                                                                                     \
    X(VtKeyOpen)                                                                                                       \
    X(VtROMData)                                                                                                       \
    X(VtOverdriveOff)                                                                                                  \
    X(VtFirst)                                                                                                         \
    X(VtNext)                                                                                                          \
    X(VtStrongAccess)                                                                                                  \
    X(VtDataBlock)                                                                                                     \
    X(VtKeyClose)                                                                                                      \
    X(SetXobSearchParamsEx)                                                                                            \
    X(FindXobs)                                                                                                        \
    X(SelectXob)                                                                                                       \
    X(GetFirmwareVersionString)
