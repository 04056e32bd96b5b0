#include "agent/AgentApp.h"
#include "agent/AgentLifecycle.h"
#include "agent/DriverSetupPath.h"
#include "framework/AnsiText.h"
#include "framework/MessageBox.h"

#include <optional>
#include <string>

namespace {

constexpr DWORD kModulePathBufferSize = 2000;

// A path cut off by the buffer would point somewhere else: treated as unknown.
std::optional<std::string> AgentModulePath()
{
    std::string path(kModulePathBufferSize, '\0');
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), kModulePathBufferSize);
    if (length == 0 || length >= kModulePathBufferSize)
        return std::nullopt;
    path.resize(length);
    return path;
}

bool StartSetupProcess(const DriverSetupLocation& location)
{
    STARTUPINFOA startup{}; // all defaults; only the size the system requires
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(location.program.c_str(), nullptr, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        location.workingDirectory.c_str(), &startup, &process))
        return false;
    // Not waited for.
    ScopedKernelHandle processHandle(process.hProcess);
    ScopedKernelHandle threadHandle(process.hThread);
    return true;
}

} // namespace

bool DriverSetupLauncher()
{
    const std::optional<std::string> modulePath = AgentModulePath();
    const std::optional<DriverSetupLocation> location =
        modulePath ? DriverSetupLocationFor(*modulePath, &IsAnsiLeadByte) : std::nullopt;
    if (location && StartSetupProcess(*location))
        return true;
    ShowMessageBox(nullptr, std::string(kDriverSetupFailed), std::string(kAgentCaption), MB_OK | MB_ICONWARNING);
    return false;
}
