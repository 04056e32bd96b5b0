#include "tests/support/uidriver/CommandLine.h"

namespace uidriver {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::size_t SkipBlanks(std::string_view text, std::size_t at)
{
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    return at;
}

// The program name: up to the first blank, where quotes only switch blanks off.
std::size_t ReadProgram(std::string_view text, std::size_t at, std::string& out)
{
    bool quoted = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsBlank(c))
            break;
        out += c;
    }
    return at;
}

std::size_t ReadArgument(std::string_view text, std::size_t at, std::string& out)
{
    bool quoted = false;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '\\') {
            std::size_t backslashes = 0;
            while (at < text.size() && text[at] == '\\') {
                ++backslashes;
                ++at;
            }
            if (at < text.size() && text[at] == '"') {
                out.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    out += '"';
                    ++at;
                }
            } else {
                out.append(backslashes, '\\');
            }
            continue;
        }
        if (c == '"') {
            if (quoted && at + 1 < text.size() && text[at + 1] == '"') {
                out += '"';
                at += 2;
                continue;
            }
            quoted = !quoted;
            ++at;
            continue;
        }
        if (!quoted && IsBlank(c))
            break;
        out += c;
        ++at;
    }
    return at;
}

} // namespace

std::string QuoteArgument(std::string_view argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(argument);

    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Backslashes before the closing quote must not escape it.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string BuildCommandLine(std::string_view program, const std::vector<std::string>& arguments)
{
    std::string line = QuoteArgument(program);
    for (const auto& argument : arguments) {
        line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine)
{
    std::vector<std::string> words;
    std::size_t at = SkipBlanks(commandLine, 0);
    if (at >= commandLine.size())
        return words;
    std::string program;
    at = ReadProgram(commandLine, at, program);
    words.push_back(std::move(program));
    for (at = SkipBlanks(commandLine, at); at < commandLine.size(); at = SkipBlanks(commandLine, at)) {
        std::string argument;
        at = ReadArgument(commandLine, at, argument);
        words.push_back(std::move(argument));
    }
    return words;
}

} // namespace uidriver
