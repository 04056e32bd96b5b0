// e2erecorder.exe: stands in for a program that another program starts (lampup.exe, the driver
// setup program, a browser), so that a test can see whether, when, where and how it was
// started. Copy it under the name the starter uses; each run appends one line to the file
// named like the copy with ".log" for ".exe" (lampup.exe writes lampup.log beside itself):
//
//   <creation time in FILETIME ticks> TAB <current directory> TAB <command line> LF
//
// The creation time is the process's own, so the line tells when it was started, not when it
// got round to writing. It shows no window and exits with status 0 (1 when it cannot write).
#include "platform/Program.h"
#include "tests/support/uidriver/Process.h"

#include <windows.h>

#include <string>

namespace {

std::string LogPathFor(const std::string& program)
{
    const auto dot = program.find_last_of('.');
    const auto slash = program.find_last_of("\\/");
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? program.substr(0, dot) : program) + ".log";
}

std::string CurrentFolder()
{
    const DWORD size = GetCurrentDirectoryA(0, nullptr);
    std::string folder(size, '\0');
    const DWORD length = GetCurrentDirectoryA(size, folder.data());
    folder.resize(length < size ? length : 0);
    return folder;
}

unsigned long long CreationTicks()
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    return (static_cast<unsigned long long>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::string line = std::to_string(CreationTicks()) + "\t" + CurrentFolder() + "\t" + GetCommandLineA() + "\n";
    return uidriver::AppendToFile(LogPathFor(program::ModulePath()), line) ? 0 : 1;
}
