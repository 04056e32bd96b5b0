#pragma once
// The PortMask: one bit per reader port the user selected. The order of the bits is the order
// of the stored value, of the Port Options dialog's check boxes and of PortFlags; the scan's
// table names its rows by these bits.
#include <cstddef>

enum class Port : unsigned { Com1, Com2, Com3, Com4, Lpt, Usb };
inline constexpr std::size_t kPortCount = 6;

constexpr unsigned PortBit(Port port)
{
    return 1u << static_cast<unsigned>(port);
}

inline constexpr unsigned kAllPortsMask = (1u << kPortCount) - 1;
// A stored 0 would scan nothing; it stands for the serial and parallel ports without USB.
inline constexpr unsigned kPortMaskForStoredZero = kAllPortsMask & ~PortBit(Port::Usb);
