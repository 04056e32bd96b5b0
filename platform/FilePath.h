#pragma once
// Paths as the system hands them to the program: ANSI text with '\' (or '/') between the
// parts. A backslash that is the second byte of a double-byte character separates nothing.
#include "platform/AnsiText.h"

#include <optional>
#include <string>
#include <string_view>

namespace filepath {

// The length of the folder part, its last separator included; 0 when the path names no folder.
std::size_t FolderPartLength(std::string_view path, ansi::LeadBytePredicate isLeadByte);

// The folder as a working or library directory takes it: without the trailing separator,
// except at a root ("C:\", "\"), where "C:" alone would mean the current directory of drive C.
// Nothing when the path names no folder.
std::optional<std::string> FolderOf(std::string_view path, ansi::LeadBytePredicate isLeadByte);

// `name` in the folder of `path`; nothing when the path names no folder.
std::optional<std::string> Beside(std::string_view path, std::string_view name, ansi::LeadBytePredicate isLeadByte);

// The last part without its final extension: "C:\Program Files\Entravo\logonagent.exe" ->
// "logonagent". A dot in a folder name is not an extension.
std::string BaseNameWithoutExtension(std::string_view path, ansi::LeadBytePredicate isLeadByte);

} // namespace filepath
