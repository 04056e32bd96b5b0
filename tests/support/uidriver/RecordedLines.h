#pragma once
// What the recording programs (the test browser, the stand-ins for lampup.exe and the setup
// program) leave behind: one line per start, its creation time, folder and command line
// separated by tabs. Portable, so the parsing is tested natively.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uidriver {

struct RecordedStart {
    uint64_t createdAt = 0; // FILETIME ticks
    std::string folder;
    std::string commandLine;
};

// Every line of a text file, each without its line end (either kind); none when it is missing.
std::vector<std::string> ReadLines(const std::string& path);

// Nothing for a line without its two tabs.
std::optional<RecordedStart> ParseRecordedStart(const std::string& line);

} // namespace uidriver
