#pragma once
// Command lines as Windows programs build and read them: a program that starts another
// quotes each argument so that the child's run-time splits them back exactly.
#include <string>
#include <string_view>
#include <vector>

namespace uidriver {

// One argument quoted when it needs it (blanks, tabs, quotes, or empty), with backslashes
// doubled only where they precede a quote.
std::string QuoteArgument(std::string_view argument);

// The program (taken as is, quoted or not) followed by each argument quoted as needed.
std::string BuildCommandLine(std::string_view program, const std::vector<std::string>& arguments);

// Splits a command line the way the C run-time does: the first word by the program-name
// rule (a quoted part ends at the next quote, backslashes are plain), the rest by the
// argument rules (2n backslashes + quote: n backslashes and a quote toggles quoting;
// 2n+1 backslashes + quote: n backslashes and a literal quote; "" inside quotes: a quote).
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace uidriver
