#include "standins/common/ReaderSourceWin.h"

#include "platform/FilePath.h"
#include "platform/Program.h"

#include <windows.h>

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
    return filepath::FolderOf(program::ModulePath(module), &ansi::IsLeadByte).value_or(std::string());
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
