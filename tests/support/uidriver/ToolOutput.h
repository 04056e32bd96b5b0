#pragma once
// How uidriver.exe speaks to the script that runs it: results on standard output, one line
// each and flushed at once; a failure as one line on standard error; the exit code.
#include <cstdio>
#include <string>

namespace uidriver {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

inline void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

inline int Fail(const std::string& why)
{
    std::fprintf(stderr, "uidriver: %s\n", why.c_str());
    return kExitFailed;
}

} // namespace uidriver
