#pragma once
// The profile that holds a program's settings is named after its executable.
#include <string>
#include <string_view>

// "C:\Program Files\Entravo\logonagent.exe" -> "logonagent": the last path component
// (after '\' or '/') without its final extension.
std::string ProfileNameFromPath(std::string_view path);
