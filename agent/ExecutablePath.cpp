#include "agent/ExecutablePath.h"

#include "agent/ProfileName.h"

#include <windows.h>

namespace {
// Long-path prefixes allow about 32,767 characters; a path cannot be longer.
constexpr DWORD kMaxPathLength = 32768;
} // namespace

std::string ExecutablePath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        // A full buffer means the name may have been cut short.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kMaxPathLength)
            return {};
        path.resize(path.size() * 2);
    }
}

std::string ExecutableProfileName()
{
    return ProfileNameFromPath(ExecutablePath());
}
