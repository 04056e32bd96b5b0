#pragma once
// Where the driver setup program is looked for: beside the agent's own executable.
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kDriverSetupProgram = "SerilaneSetup.exe";

// Tells whether a byte opens a two-byte character in the active code page, whose second byte
// may be a backslash.
using LeadBytePredicate = bool (*)(unsigned char);

struct DriverSetupLocation {
    std::string program;          // "<folder>\SerilaneSetup.exe"
    std::string workingDirectory; // "<folder>", no trailing separator
};

// Nothing when the path names no folder, so nothing is started from an unknown place.
std::optional<DriverSetupLocation> DriverSetupLocationFor(std::string_view modulePath, LeadBytePredicate isLeadByte);
