// e2erecorder.exe: stands in for a program that another program starts (lampup.exe, the driver
// setup program, a browser), so that a test can see whether, when, where and how it was
// started. Copy it under the name the starter uses; each run appends one line to the file
// named like the copy with ".log" for ".exe" (lampup.exe writes lampup.log beside itself):
//
//   <creation time in FILETIME ticks> TAB <current directory> TAB <command line> LF
//
// The creation time is the process's own, so the line tells when it was started, not when it
// got round to writing. It shows no window and exits with status 0 (1 when it cannot write).
#include <windows.h>

#include <string>

namespace {

std::string OwnPath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

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

bool AppendLine(const std::string& path, const std::string& line)
{
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) != FALSE &&
                    written == line.size();
    CloseHandle(file);
    return ok;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::string line =
        std::to_string(CreationTicks()) + "\t" + CurrentFolder() + "\t" + GetCommandLineA() + "\n";
    return AppendLine(LogPathFor(OwnPath()), line) ? 0 : 1;
}
