#pragma once
// The bus-access driver library "VTFS32.DLL": its entry points, as the agent binds them and as
// the stand-in exports them. All are stdcall and exported under their plain names.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define BUSAPI __stdcall
#else
#define BUSAPI
#endif

extern "C" {
using BXExtendedStartSessionFn = int32_t(BUSAPI*)(int16_t portNumber, int16_t adapterType, void* reserved); // > 0: session
using BXEndSessionFn = int16_t(BUSAPI*)(int32_t session);
using BXSetupFn = int16_t(BUSAPI*)(int32_t session);                                // exactly 1: ready
using BXNextFn = int16_t(BUSAPI*)(int32_t session, void* stateBuffer);              // > 0: next device found
using BXRomFn = int16_t(BUSAPI*)(int32_t session, void* stateBuffer, int16_t* rom);  // exactly 1: 8 cells filled
using BXGetTypeVersionFn = int16_t(BUSAPI*)(int16_t adapterType, char* buffer);     // resolved, never called
using BXCloseFn = int16_t(BUSAPI*)(int32_t session);
}

#ifdef _WIN32
extern "C" {
int32_t BUSAPI BXExtendedStartSession(int16_t portNumber, int16_t adapterType, void* reserved);
int16_t BUSAPI BXEndSession(int32_t session);
int16_t BUSAPI BXSetup(int32_t session);
int16_t BUSAPI BXNext(int32_t session, void* stateBuffer);
int16_t BUSAPI BXRom(int32_t session, void* stateBuffer, int16_t* rom);
int16_t BUSAPI BXGetTypeVersion(int16_t adapterType, char* buffer);
int16_t BUSAPI BXClose(int32_t session);
}
#endif

// The size the agent reserves for the library's search state.
inline constexpr int kBusStateBufferSize = 5128;
