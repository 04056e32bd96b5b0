#include "discovery/BusLibrary.h"

#include <windows.h>

#include "agent/ExecutablePath.h"
#include "framework/ScopedHandle.h"

#include <string>

namespace {

// The seven slots, in the order they are resolved. BXGetTypeVersion is never called, but a
// library without it is not the library the agent was built for.
struct BusLibrarySlots {
    BXExtendedStartSessionFn startSession = nullptr;
    BXEndSessionFn endSession = nullptr;
    BXSetupFn setup = nullptr;
    BXNextFn next = nullptr;
    BXRomFn rom = nullptr;
    BXGetTypeVersionFn getTypeVersion = nullptr;
    BXCloseFn close = nullptr;

    bool AllSet() const
    {
        return startSession && endSession && setup && next && rom && getTypeVersion && close;
    }
};

struct Binding {
    ScopedModule module;
    BusLibrarySlots slots;
    BusEntryPoints entryPoints;
    bool otherArchitecture = false;
};

Binding& TheBinding()
{
    static Binding binding;
    return binding;
}

alignas(16) unsigned char g_busStateBuffer[kBusStateBufferSize];

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& slot)
{
    // Through the generic function pointer type, which the compiler accepts from FARPROC.
    slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

BusLibrarySlots ResolveAll(HMODULE module)
{
    BusLibrarySlots slots;
    Resolve(module, "BXExtendedStartSession", slots.startSession);
    Resolve(module, "BXEndSession", slots.endSession);
    Resolve(module, "BXSetup", slots.setup);
    Resolve(module, "BXNext", slots.next);
    Resolve(module, "BXRom", slots.rom);
    Resolve(module, "BXGetTypeVersion", slots.getTypeVersion);
    Resolve(module, "BXClose", slots.close);
    return slots;
}

BusEntryPoints CalledEntryPoints(const BusLibrarySlots& slots)
{
    BusEntryPoints entryPoints;
    entryPoints.startSession = slots.startSession;
    entryPoints.setup = slots.setup;
    entryPoints.next = slots.next;
    entryPoints.rom = slots.rom;
    entryPoints.close = slots.close;
    entryPoints.endSession = slots.endSession;
    return entryPoints;
}

// The folder of the running program, without the trailing backslash; empty when unknown.
std::string OwnFolder()
{
    const std::string path = ExecutablePath();
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

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
    const std::string folder = OwnFolder();
    if (folder.empty() || !SetDllDirectoryA(folder.c_str()))
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

}  // namespace

int BindBusLibrary()
{
    Binding& binding = TheBinding();
    if (binding.module) {
        return 1;
    }
    KeepCurrentDirectoryOutOfLibrarySearch();
    binding.module.Reset(LoadLibraryA("VTFS32.DLL"));
    if (!binding.module) {
        binding.otherArchitecture = GetLastError() == ERROR_BAD_EXE_FORMAT || InstalledForThirtyTwoBitOnly();
        return 0;
    }
    binding.otherArchitecture = false;
    binding.slots = ResolveAll(binding.module.Get());
    if (!binding.slots.AllSet()) {
        UnbindBusLibrary();
        return 0;
    }
    binding.entryPoints = CalledEntryPoints(binding.slots);
    return 1;
}

void UnbindBusLibrary()
{
    Binding& binding = TheBinding();
    if (!binding.module) {
        return;
    }
    // No pointer into the released library may outlive it.
    binding.slots = {};
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

void* BusStateBuffer()
{
    return g_busStateBuffer;
}
