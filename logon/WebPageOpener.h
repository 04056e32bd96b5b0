#pragma once
// Opens a web page in the user's browser: through the shell, or failing that through the open
// command registered for ".htm" documents. Called on the agent's GUI thread; keeps no state.
#include "logon/OpenCommand.h"

#include <windows.h>

#include <string>

// A result above 32 means the page was handed over (the shell's value or the program start's).
// Otherwise: the shell's failure code when no ".htm" browser is registered, or the program
// start's failure (0, 2, 3 or 11); 0 also when memory runs out. Returns without waiting for
// the browser, and throws nothing, so window procedures may call it directly.
unsigned OpenWebPage(const std::string& url, int showCommand) noexcept;

// The system's operations behind OpenWebPage: the shell, the classes root of the registry, the
// active code page and WinExec. Tests derive from it to replace a single step.
class Win32WebPagePlatform : public WebPagePlatform {
public:
    unsigned ShellOpen(const std::string& url, int showCommand) override;
    long QueryClassesRootDefault(const std::string& subKey, std::string& out) override;
    ansi::LeadBytePredicate LeadBytes() const override;
    unsigned StartProgram(const std::string& commandLine, int showCommand) override;
};
