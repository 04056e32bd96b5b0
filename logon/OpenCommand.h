#pragma once
// Opening a web page, as decisions free of the platform: the shell is asked first; when it
// refuses, the browser registered for ".htm" documents is started with the URL put in place of
// its placeholder. The Win32 side (WebPageOpener.h) supplies the platform operations.
#include "platform/AnsiText.h"

#include <string>
#include <string_view>

// The registered open command cut at its placeholder, followed by one blank and the URL as it
// is (no quotes added). The cut is at the opening quote of the first quoted "%1", searched
// character by character so that the bytes of a double-byte character never match; failing
// that, at the first bare %1 found byte by byte; failing both, nothing is cut. Whatever
// followed the placeholder is dropped. The line grows as needed: a long logon URL after a long
// registered command is built whole.
std::string BuildOpenCommandLine(std::string_view command, std::string_view url,
                                 ansi::LeadBytePredicate isLeadByte = &ansi::NoLeadBytes);

// Shell and program-start results above this value mean the page was handed over; this value
// itself is the shell's "library not found" failure.
constexpr unsigned kLastFailureCode = 32;

// The operations the opener needs from the system.
class WebPagePlatform {
public:
    virtual ~WebPagePlatform() = default;
    // Asks the shell to "open" the URL; the shell's result code.
    virtual unsigned ShellOpen(const std::string& url, int showCommand) = 0;
    // The default value of a key under the classes root: 0 with the text in `out`, otherwise
    // the system error of opening the key with `out` untouched.
    virtual long QueryClassesRootDefault(const std::string& subKey, std::string& out) = 0;
    // The lead bytes of the code page registered commands are written in.
    virtual ansi::LeadBytePredicate LeadBytes() const = 0;
    // Starts a command line; the start's result code, as it came.
    virtual unsigned StartProgram(const std::string& commandLine, int showCommand) = 0;
};

// Opens the URL through the shell or, when the shell refuses, through the ".htm" document
// class's open command. Above kLastFailureCode: handed over. Otherwise the shell's failure
// code (when no browser could be found in the registry) or the failure of the program start.
// Running out of memory gives 0, the code the shell uses for it: callers sit in window
// procedures, which nothing may be thrown across.
unsigned OpenWebPageOn(WebPagePlatform& platform, const std::string& url, int showCommand) noexcept;
