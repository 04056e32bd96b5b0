#include "standins/common/CallLog.h"

#include <cstdio>
#include <memory>

void CallLog::Append(std::string_view line) const
{
    if (m_path.empty()) {
        return;
    }
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(m_path.c_str(), "ab"), &std::fclose);
    if (!file) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file.get());
    std::fputc('\n', file.get());
}

std::string ChooseLogPath(const std::optional<std::string>& environmentValue, std::string_view describedPath)
{
    if (environmentValue && !environmentValue->empty()) {
        return *environmentValue;
    }
    return std::string(describedPath);
}

std::string FormatCall(std::string_view name, std::initializer_list<std::string_view> arguments,
                       std::string_view result)
{
    std::string line(name);
    line += '(';
    bool first = true;
    for (std::string_view argument : arguments) {
        if (!first) {
            line += ", ";
        }
        line += argument;
        first = false;
    }
    line += ") = ";
    line += result;
    return line;
}
