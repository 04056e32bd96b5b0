#include "platform/Program.h"

#include "platform/FilePath.h"

namespace program {

namespace {
// Long-path prefixes allow about 32,767 characters; a path cannot be longer.
constexpr DWORD kMaxPathLength = 32768;
} // namespace

std::string ModulePath(HMODULE module)
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
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

std::optional<std::string> Folder()
{
    return filepath::FolderOf(ModulePath(), &ansi::IsLeadByte);
}

std::optional<std::string> Beside(std::string_view name)
{
    return filepath::Beside(ModulePath(), name, &ansi::IsLeadByte);
}

std::string Name()
{
    return filepath::BaseNameWithoutExtension(ModulePath(), &ansi::IsLeadByte);
}

} // namespace program
