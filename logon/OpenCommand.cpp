#include "logon/OpenCommand.h"

#include <new>

namespace {

constexpr std::string_view kQuotedPlaceholder = "\"%1\"";
constexpr std::string_view kBarePlaceholder = "%1";

// The shell's result code for memory exhaustion.
constexpr unsigned kOutOfMemory = 0;

// Registered commands are multibyte text: a quote can only start a placeholder where a
// character starts, never as the second byte of a double-byte character.
std::string_view::size_type FindQuotedPlaceholder(std::string_view command, ansi::LeadBytePredicate isLeadByte)
{
    for (std::size_t at = 0; at < command.size(); at = ansi::NextCharacter(command, at, isLeadByte)) {
        if (command.substr(at, kQuotedPlaceholder.size()) == kQuotedPlaceholder)
            return at;
    }
    return std::string_view::npos;
}

std::string_view CutAtPlaceholder(std::string_view command, ansi::LeadBytePredicate isLeadByte)
{
    auto cut = FindQuotedPlaceholder(command, isLeadByte);
    if (cut == std::string_view::npos)
        cut = command.find(kBarePlaceholder);
    return command.substr(0, cut);
}

unsigned TryOpenWebPage(WebPagePlatform& platform, const std::string& url, int showCommand)
{
    const unsigned shellResult = platform.ShellOpen(url, showCommand);
    if (shellResult > kLastFailureCode)
        return shellResult;

    std::string documentClass;
    if (platform.QueryClassesRootDefault(".htm", documentClass) != 0)
        return shellResult;
    std::string command;
    if (platform.QueryClassesRootDefault(documentClass + "\\shell\\open\\command", command) != 0)
        return shellResult;

    return platform.StartProgram(BuildOpenCommandLine(command, url, platform.LeadBytes()), showCommand);
}

} // namespace

std::string BuildOpenCommandLine(std::string_view command, std::string_view url, ansi::LeadBytePredicate isLeadByte)
{
    const std::string_view program = CutAtPlaceholder(command, isLeadByte);
    std::string line;
    line.reserve(program.size() + 1 + url.size());
    line.append(program);
    line.push_back(' ');
    line.append(url);
    return line;
}

unsigned OpenWebPageOn(WebPagePlatform& platform, const std::string& url, int showCommand) noexcept
{
    try {
        return TryOpenWebPage(platform, url, showCommand);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}
