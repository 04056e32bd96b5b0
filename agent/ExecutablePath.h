#pragma once
// Where the running program lives and the profile named after it. Windows only.
#include <string>

// The full path of the running executable; empty if the system cannot tell.
std::string ExecutablePath();

// The running executable's base name without extension ("logonagent").
std::string ExecutableProfileName();
