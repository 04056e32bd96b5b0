#pragma once
// The six port check boxes of the Port Options dialog and the PortMask they stand for.
#include <array>

#include "profile/PortMask.h"

// One flag per port in mask-bit order: COM1, COM2, COM3, COM4, LPT, USB. 0 is unchecked.
using PortFlags = std::array<int, kPortCount>;

// Bit i of the mask gives flag i; bits above the six ports are not shown.
PortFlags PortFlagsFromMask(unsigned mask);

// Every non-zero flag sets its bit; the result lies between 0 and 63.
unsigned PortMaskFromFlags(const PortFlags& flags);
