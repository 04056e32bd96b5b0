#include "logon/WebPageOpener.h"

#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

// Registry texts the opener reads are at most 259 characters and a terminator.
constexpr LONG kValueBufferSize = 260;

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

std::string ReadDefaultText(HKEY key)
{
    // The value query hands back any kind of data as if it were text: look at the kind first
    // so that a number or binary value never becomes part of a command line.
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS || !IsText(type))
        return {};
    std::array<char, kValueBufferSize> buffer{};
    LONG size = kValueBufferSize;
    if (RegQueryValueA(key, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return {};
    const auto received = static_cast<size_t>(std::clamp<LONG>(size, 0, kValueBufferSize));
    const size_t length = strnlen(buffer.data(), received);
    // A value stored without its terminator can fill the buffer to the last byte.
    if (length >= static_cast<size_t>(kValueBufferSize))
        return {};
    return std::string(buffer.data(), length);
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

bool Win32WebPagePlatform::IsLeadByte(unsigned char byte) const
{
    return IsDBCSLeadByte(byte) != FALSE;
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
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &opened);
    if (result != ERROR_SUCCESS)
        return result;
    const UniqueRegKey key(opened);
    out = ReadDefaultText(key.get());
    return ERROR_SUCCESS;
}
