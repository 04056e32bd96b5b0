#pragma once
// The bus-access driver library "VTFS32.DLL": each entry point declared once, and one list of
// them from which the agent's binding, the port scan's table, the stand-in's exports and the
// test tools all work. All are stdcall and exported under their plain names.
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define BUSAPI __stdcall
#else
#define BUSAPI
#endif

extern "C" {
int32_t BUSAPI BXExtendedStartSession(int16_t portNumber, int16_t adapterType, void* reserved); // > 0: session
int16_t BUSAPI BXEndSession(int32_t session);
int16_t BUSAPI BXSetup(int32_t session);                                // exactly 1: ready
int16_t BUSAPI BXNext(int32_t session, void* stateBuffer);              // > 0: next device found
int16_t BUSAPI BXRom(int32_t session, void* stateBuffer, int16_t* rom); // exactly 1: 8 cells filled
int16_t BUSAPI BXGetTypeVersion(int16_t adapterType, char* buffer);     // bound, never called
int16_t BUSAPI BXClose(int32_t session);
}

// Every entry point, in the order the agent binds them. A library without any one of them is
// not the library the agent was built for, even one the scan never calls. The build reads the
// rows of this list to make the stand-in's export table.
#define BUS_ENTRY_POINTS(X)                                                                                            \
    X(BXExtendedStartSession)                                                                                          \
    X(BXEndSession)                                                                                                    \
    X(BXSetup)                                                                                                         \
    X(BXNext)                                                                                                          \
    X(BXRom)                                                                                                           \
    X(BXGetTypeVersion)                                                                                                \
    X(BXClose)

// One slot per entry point, named after it: the bound library's, or a fake's in tests.
struct BusEntryPoints {
#define BUS_SLOT(function) decltype(&::function) function = nullptr;
    BUS_ENTRY_POINTS(BUS_SLOT)
#undef BUS_SLOT
};

// Calls visit(name, slot) for every entry point, in the list's order.
template <typename Visit>
void ForEachBusEntryPoint(BusEntryPoints& entryPoints, Visit&& visit)
{
#define BUS_VISIT(function) visit(#function, entryPoints.function);
    BUS_ENTRY_POINTS(BUS_VISIT)
#undef BUS_VISIT
}

// The size the agent reserves for the library's search state.
inline constexpr int kBusStateBufferSize = 5128;
