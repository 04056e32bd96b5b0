#pragma once
// uidriver measure AGENT.EXE TRAYPROBE.EXE BROWSER.EXE RUNS: start-up to tray icon,
// double-click to browser start (with lampup.exe beside the agent and without it) and peak
// working set of the agent, each next to what the platform alone costs: a program that only
// adds an icon, the shell opening the URL, the start of lampup.exe, the scan's bus calls.
// BROWSER.EXE is a recording program, registered here for http; it logs its start time.
#include "tests/support/uidriver/Wait.h"

#include <string>
#include <vector>

namespace uidriver {

// Prints one line per run and the medians; the tool's exit code (see ToolOutput.h).
int MeasureAgent(const std::vector<std::string>& args, Milliseconds timeout);

} // namespace uidriver
