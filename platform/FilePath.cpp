#include "platform/FilePath.h"

namespace filepath {

std::size_t FolderPartLength(std::string_view path, ansi::LeadBytePredicate isLeadByte)
{
    std::size_t folderLength = 0;
    for (std::size_t at = 0; at < path.size(); at = ansi::NextCharacter(path, at, isLeadByte)) {
        if (path[at] == '\\' || path[at] == '/')
            folderLength = at + 1;
    }
    return folderLength;
}

std::optional<std::string> FolderOf(std::string_view path, ansi::LeadBytePredicate isLeadByte)
{
    const std::size_t length = FolderPartLength(path, isLeadByte);
    if (length == 0)
        return std::nullopt;
    // A colon (0x3A) is never the second byte of a double-byte character, so the byte before
    // the separator tells a drive's root apart.
    const std::string_view withoutSeparator = path.substr(0, length - 1);
    const bool root = withoutSeparator.empty() || withoutSeparator.back() == ':';
    return std::string(root ? path.substr(0, length) : withoutSeparator);
}

std::optional<std::string> Beside(std::string_view path, std::string_view name, ansi::LeadBytePredicate isLeadByte)
{
    const std::size_t length = FolderPartLength(path, isLeadByte);
    if (length == 0)
        return std::nullopt;
    std::string result(path.substr(0, length));
    result.append(name);
    return result;
}

std::string BaseNameWithoutExtension(std::string_view path, ansi::LeadBytePredicate isLeadByte)
{
    std::string_view name = path.substr(FolderPartLength(path, isLeadByte));
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    return std::string(name);
}

} // namespace filepath
