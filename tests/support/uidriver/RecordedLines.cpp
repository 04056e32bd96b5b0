#include "tests/support/uidriver/RecordedLines.h"

#include <cstdlib>
#include <fstream>

namespace uidriver {

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<RecordedStart> ParseRecordedStart(const std::string& line)
{
    const auto first = line.find('\t');
    const auto second = first == std::string::npos ? std::string::npos : line.find('\t', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    return RecordedStart{std::strtoull(line.substr(0, first).c_str(), nullptr, 10),
                         line.substr(first + 1, second - first - 1), line.substr(second + 1)};
}

} // namespace uidriver
