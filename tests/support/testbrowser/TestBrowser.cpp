// testbrowser.exe: a stand-in web browser for Windows tests. Register it wherever a browser is
// looked up (a URL protocol's or a document class's shell\open\command) and start the code
// under test; the program appends its complete command line, exactly as GetCommandLineA gives
// it, as one line ended by "\n" to a log file, and exits with status 0. It shows no window.
//
// The log file is the path in the environment variable ENTRAVO_TEST_BROWSER_LOG, which a
// started program inherits from the test; when that is unset or empty, testbrowser.log in the
// folder of the executable. Appends from several runs never interleave within a line, so a
// test can poll the file until the expected number of lines has arrived.
//
// Exit status 1 means the log could not be written.
#include <windows.h>

#include <string>

namespace {

constexpr char kLogVariable[] = "ENTRAVO_TEST_BROWSER_LOG";

std::string EnvironmentValue(const char* name)
{
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

std::string OwnFolder()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string LogPath()
{
    std::string path = EnvironmentValue(kLogVariable);
    return path.empty() ? OwnFolder() + "testbrowser.log" : path;
}

bool AppendLine(const std::string& path, const std::string& line)
{
    // Append-only access makes each write land at the end, whoever else writes.
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::string record = line + "\n";
    DWORD written = 0;
    const bool ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) != FALSE &&
                    written == record.size();
    CloseHandle(file);
    return ok;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return AppendLine(LogPath(), GetCommandLineA()) ? 0 : 1;
}
