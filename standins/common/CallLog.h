#pragma once
// The stand-ins' call log: one line per library call, appended to a plain text file so that
// tests (and people) can see which calls the program under test made, in which order.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

class CallLog {
public:
    // An empty path switches the log off.
    explicit CallLog(std::string path) : m_path(std::move(path)) {}

    bool Enabled() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    // Appends line and a line break. The file is opened and closed for every line, so that
    // several processes can share one log and nothing is lost when a process dies. Failures
    // to write are ignored: the log must never change what the stand-in answers.
    void Append(std::string_view line) const;

private:
    std::string m_path;
};

// The environment variable ENTRAVO_SIM_LOG, when set and not empty, wins over the
// description's "log" directive.
std::string ChooseLogPath(const std::optional<std::string>& environmentValue, std::string_view describedPath);

// "BXSetup(3) = 1": a call with its arguments and result, as one log line.
std::string FormatCall(std::string_view name, std::initializer_list<std::string_view> arguments,
                       std::string_view result);
