#pragma once
// The agent's one binding to the bus-access library "VTFS32.DLL": loaded by bare name so the
// system's usual library search applies, and only with every entry point of the list present.
// Process-wide; bound at start-up, released at most once at exit. Windows only.
#include "discovery/BusApi.h"
#include "discovery/RomRecord.h"

#include <windows.h>

#include <optional>

// Every entry point of the list from `module`, or nothing when any one is missing.
std::optional<BusEntryPoints> ResolveBusEntryPoints(HMODULE module);

// 1 when the library is bound (now, or already before the call), 0 when it is not. A
// library that lacks any entry point is released again. A failure is not remembered: the
// next call tries afresh.
int BindBusLibrary();

// Releases the library if it is bound; otherwise does nothing.
void UnbindBusLibrary();

bool IsBusLibraryBound();

// After a failed BindBusLibrary: whether a VTFS32.DLL is installed that this process cannot
// load because it is built for the other architecture (a 64-bit agent and the maker's
// 32-bit library). Asking the user to install a driver that is installed would mislead.
bool BusLibraryIsForOtherArchitecture();

// The entry points, valid only between a successful BindBusLibrary and the next
// UnbindBusLibrary; all null while unbound.
const BusEntryPoints& BoundBusEntryPoints();

// ScanPorts (see PortScan.h) over the bound library, with the same results and the same
// std::bad_alloc rule. Without a bound library the result is 0: start-up refuses to run
// without one, so this only keeps a caller's mistake from calling through null slots.
int ScanBoundBus(unsigned mask, RomRecord& record);
