// Times lampup's run in-process on Windows: the linked libraries, whatever XobComm.dll and
// XOBAPI.dll lie beside this program, with the real 10 ms pauses timed apart, so that the
// program's own work is seen without the cost of starting a process.
// Usage: lampup_timing [runs]; prints one line per run and a summary, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lampup/IndicatorProgram.h"
#include "lampup/Win32TokenLibraries.h"

namespace {

double Now()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / frequency;
}

class TimedPause final : public lampup::SystemPause {
public:
    void Sleep(uint32_t milliseconds) override
    {
        const double start = Now();
        m_pause.Sleep(milliseconds);
        slept += Now() - start;
        ++pauses;
    }

    double slept = 0;
    int pauses = 0;

private:
    lampup::Win32SystemPause m_pause;
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 1000) : 20;
    std::vector<double> own;
    for (int i = 0; i < runs; ++i) {
        TimedPause pause;
        lampup::IndicatorProgram program(lampup::LinkedTokenLibraries(), pause);
        const double start = Now();
        program.Run();
        const double total = Now() - start;
        own.push_back(total - pause.slept);
        std::printf("run %d: total %.3f ms, %d pauses slept %.3f ms, own work %.3f ms\n", i + 1, total, pause.pauses,
                    pause.slept, total - pause.slept);
    }
    // The first run also pays for the libraries' own start-up (the stand-ins read their reader
    // description at the first call), which is not the program's work.
    std::printf("first run: own work %.3f ms\n", own.front());
    if (runs > 1) {
        std::vector<double> later(own.begin() + 1, own.end());
        std::sort(later.begin(), later.end());
        std::printf("own work over runs 2-%d: median %.3f ms, max %.3f ms\n", runs, later[later.size() / 2],
                    later.back());
    }
    return 0;
}
