#include "ReaderSourceWin.h"

#include <windows.h>

#include <vector>

std::optional<std::string> EnvironmentValue(const char* name)
{
    DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::string value(needed, '\0');
    DWORD written = GetEnvironmentVariableA(name, value.data(), needed);
    if (written == 0 || written >= needed) {
        return std::nullopt;
    }
    value.resize(written);
    return value;
}

std::string ModuleFolder(const void* addressInModule)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(addressInModule), &module)) {
        return {};
    }
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            std::string folder(path.data(), length);
            auto slash = folder.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : folder.substr(0, slash);
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

ReaderDescription LoadReaderForModule(const void* addressInModule, std::string* error)
{
    std::string path = ChooseReaderPath(EnvironmentValue(kReaderEnvironmentVariable), ModuleFolder(addressInModule));
    return LoadReaderDescription(path, error);
}

CallLog OpenCallLog(const ReaderDescription& reader)
{
    return CallLog(ChooseLogPath(EnvironmentValue(kLogEnvironmentVariable), reader.logPath));
}
