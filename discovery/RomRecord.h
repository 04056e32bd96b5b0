#pragma once
#include <cstdint>

// One device's ROM identity as the bus library delivers it: eight 16-bit cells, ROM byte i in
// the low 8 bits of cell i. Cell 0 is the family code, cells 1-6 the serial number, cell 7 the
// CRC byte. The high bytes are not part of the identity.
struct RomRecord {
    uint16_t cells[8];
};
static_assert(sizeof(RomRecord) == 16);
