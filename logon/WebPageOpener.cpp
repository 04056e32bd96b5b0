#include "logon/WebPageOpener.h"

#include "platform/Registry.h"

#include <shellapi.h>

namespace {

// Registry texts the opener reads are at most 259 characters and a terminator.
constexpr std::size_t kValueBufferSize = 260;

std::string ReadDefaultText(HKEY key)
{
    // Only a text: a number or binary value must never become part of a command line.
    const auto value = registry::Query(key, nullptr, kValueBufferSize);
    const auto text = value ? registry::TextOf(*value) : std::nullopt;
    // A value stored without its terminator can fill the buffer to the last byte.
    if (!text || text->size() >= kValueBufferSize)
        return {};
    return *text;
}

} // namespace

unsigned Win32WebPagePlatform::ShellOpen(const std::string& url, int showCommand)
{
    const HINSTANCE result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, showCommand);
    return static_cast<unsigned>(reinterpret_cast<INT_PTR>(result));
}

long Win32WebPagePlatform::QueryClassesRootDefault(const std::string& subKey, std::string& out)
{
    return QueryKeyDefault(HKEY_CLASSES_ROOT, subKey, out);
}

ansi::LeadBytePredicate Win32WebPagePlatform::LeadBytes() const
{
    return &ansi::IsLeadByte;
}

unsigned Win32WebPagePlatform::StartProgram(const std::string& commandLine, int showCommand)
{
    return WinExec(commandLine.c_str(), static_cast<UINT>(showCommand));
}

unsigned OpenWebPage(const std::string& url, int showCommand) noexcept
{
    Win32WebPagePlatform platform;
    return OpenWebPageOn(platform, url, showCommand);
}

long QueryKeyDefault(HKEY root, const std::string& subKey, std::string& out)
{
    LONG error = ERROR_SUCCESS;
    const scoped::RegKey key = registry::OpenForQuery(root, subKey, error);
    if (!key)
        return error;
    out = ReadDefaultText(key.Get());
    return ERROR_SUCCESS;
}
