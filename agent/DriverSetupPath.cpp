#include "agent/DriverSetupPath.h"

namespace {

// The length of the drive and directory part, trailing separator included; a lead byte and
// the byte after it are one character, so a backslash there never separates.
std::size_t FolderPartLength(std::string_view path, LeadBytePredicate isLeadByte)
{
    std::size_t folderLength = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (isLeadByte != nullptr && isLeadByte(byte) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (byte == '\\' || byte == '/')
            folderLength = i + 1;
    }
    return folderLength;
}

} // namespace

std::optional<DriverSetupLocation> DriverSetupLocationFor(std::string_view modulePath, LeadBytePredicate isLeadByte)
{
    const std::size_t folderLength = FolderPartLength(modulePath, isLeadByte);
    if (folderLength == 0)
        return std::nullopt;
    DriverSetupLocation location;
    location.workingDirectory = std::string(modulePath.substr(0, folderLength - 1));
    location.program = location.workingDirectory + "\\" + std::string(kDriverSetupProgram);
    return location;
}
