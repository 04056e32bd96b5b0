#include "discovery/BusLibrary.h"

#include "discovery/PortScan.h"
#include "platform/Handle.h"
#include "platform/Program.h"

#include <string>
#include <type_traits>

namespace {

struct Binding {
    scoped::Module module;
    BusEntryPoints entryPoints;
    bool otherArchitecture = false;
};

Binding& TheBinding()
{
    static Binding binding;
    return binding;
}

// The library's search state: zero at program start, shared by every session and never read,
// written or cleared by the agent.
alignas(16) unsigned char g_busStateBuffer[kBusStateBufferSize];

// A "VTFS32.DLL" planted in whatever folder the agent was started from must never run in it,
// so the current directory leaves the library search, for good and for the whole process.
// Naming the program's own folder as the library directory does that everywhere (Windows
// drops the current directory for any library directory, Wine only for a non-empty one) and
// adds no new place: that folder is searched first anyway, then the system folders and PATH.
// A library directory the process named already has done the same, and is kept.
void KeepCurrentDirectoryOutOfLibrarySearch()
{
    char probe[1] = {};
    if (GetDllDirectoryA(sizeof(probe), probe) > 0)
        return;
    const std::optional<std::string> folder = program::Folder();
    if (!folder || !SetDllDirectoryA(folder->c_str()))
        SetDllDirectoryA("");
}

// A 32-bit driver setup on 64-bit Windows puts the library in the 32-bit system folder, which
// a 64-bit process never searches; the loader cannot say that it exists there.
bool InstalledForThirtyTwoBitOnly()
{
#ifdef _WIN64
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemWow64DirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::string path = std::string(folder, length) + "\\VTFS32.DLL";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    return false;
#endif
}

} // namespace

std::optional<BusEntryPoints> ResolveBusEntryPoints(HMODULE module)
{
    BusEntryPoints entryPoints;
    bool complete = true;
    ForEachBusEntryPoint(entryPoints, [&](const char* name, auto& slot) {
        // Through the generic function pointer type, which the compiler accepts from FARPROC.
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
        complete = complete && slot != nullptr;
    });
    if (!complete)
        return std::nullopt;
    return entryPoints;
}

int BindBusLibrary()
{
    Binding& binding = TheBinding();
    if (binding.module)
        return 1;
    KeepCurrentDirectoryOutOfLibrarySearch();
    binding.module.Reset(LoadLibraryA("VTFS32.DLL"));
    if (!binding.module) {
        binding.otherArchitecture = GetLastError() == ERROR_BAD_EXE_FORMAT || InstalledForThirtyTwoBitOnly();
        return 0;
    }
    binding.otherArchitecture = false;
    const std::optional<BusEntryPoints> entryPoints = ResolveBusEntryPoints(binding.module.Get());
    if (!entryPoints) {
        binding.module.Reset();
        return 0;
    }
    binding.entryPoints = *entryPoints;
    return 1;
}

void UnbindBusLibrary()
{
    Binding& binding = TheBinding();
    // No pointer into the released library may outlive it.
    binding.entryPoints = {};
    binding.module.Reset();
}

bool IsBusLibraryBound()
{
    return static_cast<bool>(TheBinding().module);
}

bool BusLibraryIsForOtherArchitecture()
{
    return TheBinding().otherArchitecture;
}

const BusEntryPoints& BoundBusEntryPoints()
{
    return TheBinding().entryPoints;
}

int ScanBoundBus(unsigned mask, RomRecord& record)
{
    if (!IsBusLibraryBound())
        return 0;
    return ScanPorts(BoundBusEntryPoints(), g_busStateBuffer, mask, record);
}
