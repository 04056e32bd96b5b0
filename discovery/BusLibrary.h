#pragma once
// The agent's one binding to the bus-access library "VTFS32.DLL": loaded by bare name so the
// system's usual library search applies, all seven entry points required, six of them called
// by the port scan. Process-wide; bound at start-up, released at most once at exit.
#include "discovery/BusEntryPoints.h"

// 1 when the library is bound (now, or already before the call), 0 when it is not. A
// library that lacks any of the seven entry points is released again. A failure is not
// remembered: the next call tries afresh.
int BindBusLibrary();

// Releases the library if it is bound; otherwise does nothing.
void UnbindBusLibrary();

bool IsBusLibraryBound();

// After a failed BindBusLibrary: whether a VTFS32.DLL is installed that this process cannot
// load because it is built for the other architecture (a 64-bit agent and the maker's
// 32-bit library). Asking the user to install a driver that is installed would mislead.
bool BusLibraryIsForOtherArchitecture();

// The six entry points the scan calls. Valid only between a successful BindBusLibrary and
// the next UnbindBusLibrary; all null while unbound.
const BusEntryPoints& BoundBusEntryPoints();

// The library's search state: kBusStateBufferSize bytes, zero at program start, shared by
// every session and never read, written or cleared by the agent.
void* BusStateBuffer();
