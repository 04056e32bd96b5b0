#pragma once
// The six bus-library entry points that a port scan calls: the bound library's, or a fake's
// in tests. The scan trusts them to be set; the binding guarantees that while it holds.
#include "discovery/BusApi.h"

struct BusEntryPoints {
    BXExtendedStartSessionFn startSession = nullptr;
    BXSetupFn setup = nullptr;
    BXNextFn next = nullptr;
    BXRomFn rom = nullptr;
    BXCloseFn close = nullptr;
    BXEndSessionFn endSession = nullptr;
};
