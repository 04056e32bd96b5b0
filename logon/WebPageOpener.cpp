#include "logon/WebPageOpener.h"

#include "platform/Registry.h"

#include <shellapi.h>

unsigned Win32WebPagePlatform::ShellOpen(const std::string& url, int showCommand)
{
    const HINSTANCE result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, showCommand);
    return static_cast<unsigned>(reinterpret_cast<INT_PTR>(result));
}

long Win32WebPagePlatform::QueryClassesRootDefault(const std::string& subKey, std::string& out)
{
    return registry::QueryKeyDefault(HKEY_CLASSES_ROOT, subKey, out);
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
