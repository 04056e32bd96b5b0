#pragma once
// The scan for tokens on the reader ports the user selected: which (port number, adapter
// type) pairs are tried in which order, which devices are the readers' own, and the count
// that tells the logon whether exactly one token is present.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "discovery/BusApi.h"
#include "discovery/RomRecord.h"
#include "profile/PortMask.h"

struct ScanRow {
    Port port; // the PortMask bit that selects this row
    int portNumber;
    int adapterType;
};

// COM1 comes twice: with the serial adapter type 5 used on every COM port, then with the
// second serial adapter type 1. LPT is adapter type 2 and USB type 6, both on port number 1.
inline constexpr std::array<ScanRow, 7> ScanOrder{{
    {Port::Com1, 1, 5},
    {Port::Com2, 2, 5},
    {Port::Com1, 1, 1},
    {Port::Lpt, 1, 2},
    {Port::Usb, 1, 6},
    {Port::Com3, 3, 5},
    {Port::Com4, 4, 5},
}};

// The tokens one scan found, in the order found, each record allocated on its own. Lives
// only inside one ScanPorts call.
using RomRecordList = std::vector<std::unique_ptr<RomRecord>>;

// A library that never ends an enumeration would otherwise hold the GUI thread (and, with
// tokens, all memory) for ever. No real bus carries anywhere near this many devices.
inline constexpr int kMaxDevicesPerSession = 4096;

// 1 when the whole 16-bit cell 0 is one of the readers' own families (0x09, 0x12, 0x81),
// otherwise 0. A cell with a non-zero upper byte never matches.
int IsIgnoredFamily(const RomRecord& record);

// Scans one pair and appends the records of the tokens found to list. An opened session is
// closed and ended on every path, including when an allocation throws (std::bad_alloc is the
// only exception; it propagates, with list still owning what it held).
void ScanPort(const BusEntryPoints& bus, void* stateBuffer, int portNumber, int adapterType, RomRecordList& list);

// Scans every ScanOrder row whose bit is set in mask (bits above bit 5 are ignored). Result:
// -1 more than one token, 0 none, 1 exactly one, and then record is its identity; otherwise
// record is left unchanged. Throws only std::bad_alloc, having released every record and
// closed every session; record is then unchanged.
int ScanPorts(const BusEntryPoints& bus, void* stateBuffer, unsigned mask, RomRecord& record);
