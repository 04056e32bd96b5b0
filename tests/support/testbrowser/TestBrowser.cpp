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
#include "tests/support/uidriver/Process.h"

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

std::string LogPath()
{
    std::string path = EnvironmentValue(kLogVariable);
    return path.empty() ? uidriver::OwnFolder() + "testbrowser.log" : path;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return uidriver::AppendToFile(LogPath(), std::string(GetCommandLineA()) + "\n") ? 0 : 1;
}
