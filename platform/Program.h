#pragma once
// Where the running program and its modules live. Windows only.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace program {

// The full path of a module of this process (the program itself for null), however long;
// empty when the system cannot tell.
std::string ModulePath(HMODULE module = nullptr);

// The program's folder as a working or library directory takes it (see filepath::FolderOf),
// read in the program's own code page; nothing when unknown.
std::optional<std::string> Folder();

// A file of that name beside the program; nothing when the program's folder is unknown.
std::optional<std::string> Beside(std::string_view name);

// The program's base name without extension ("logonagent"): its title and its profile's name.
std::string Name();

} // namespace program
