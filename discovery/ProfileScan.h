#pragma once
// The scan as the logon flow runs it: the ports from the user's settings, through the bound
// bus library.
#include "agent/ProfileStore.h"
#include "discovery/RomRecord.h"

// ScanPorts over the bound library and BusStateBuffer, with the mask from
// store.GetPortMask(). Same results (and the same std::bad_alloc rule) as the portable
// ScanPorts. Without a bound library the result is 0.
int ScanPorts(const ProfileStore& store, RomRecord& record);
