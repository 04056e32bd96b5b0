// uidriver.exe: the UI driver from the command line, for the demo and the measurement
// scripts (run it under Wine in the same prefix as the agent).
//
//   uidriver measure AGENT.EXE TRAYPROBE.EXE BROWSER.EXE RUNS
//       start-up to tray icon, double-click to browser start (with
//       lampup.exe beside the agent and without it) and peak working set of the agent, each
//       next to what the platform alone costs: a program that only adds an icon, the shell
//       opening the URL, the start of lampup.exe, the scan's bus calls (BROWSER.EXE is a recording program,
//       registered here for http; it logs its start time).
//   uidriver wait-agent [SECONDS]         waits for the agent's hidden window, prints its styles
//   uidriver tray left|right|double       a click on the running agent's icon
//   uidriver menu DOWN-PRESSES|last       chooses an item of the open popup menu
//   uidriver wait-dialog TITLE [SECONDS]  waits for a visible dialog, prints its texts
//   uidriver press TITLE BUTTON-ID        presses a button of a visible dialog
//
// Every wait is bounded (SECONDS, 15 by default); every process started is ended on exit.
#include "discovery/BusLibrary.h"
#include "discovery/PortScan.h"
#include "platform/FilePath.h"
#include "platform/Handle.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/TrayDriver.h"
#include "tests/support/uidriver/Wait.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace uidriver;
using namespace std::chrono_literals;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr Milliseconds kDefaultTimeout = 15000ms;
constexpr int kPortOptionsButton = 1051;

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "uidriver: %s\n", why.c_str());
    return kExitFailed;
}

Milliseconds SecondsArgument(const std::vector<std::string>& args, std::size_t index)
{
    if (index >= args.size())
        return kDefaultTimeout;
    const int seconds = std::atoi(args[index].c_str());
    return seconds > 0 ? Milliseconds(seconds * 1000) : kDefaultTimeout;
}

std::string FolderOf(const std::string& path)
{
    return filepath::Beside(path, "", &ansi::IsLeadByte).value_or(std::string());
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A recording program's line: creation time, folder, command line, separated by tabs.
struct Recorded {
    ULONGLONG createdAt = 0;
    std::string commandLine;
};

std::optional<Recorded> ParseRecorded(const std::string& line)
{
    const auto first = line.find('\t');
    const auto second = first == std::string::npos ? std::string::npos : line.find('\t', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    return Recorded{std::strtoull(line.substr(0, first).c_str(), nullptr, 10), line.substr(second + 1)};
}

HWND FindDialog(DWORD processId, const std::function<bool(HWND)>& matches)
{
    for (HWND dialog : VisibleWindows(processId, kDialogClass)) {
        if (matches(dialog))
            return dialog;
    }
    return nullptr;
}

bool ExitAgent(const ChildProcess& agent, HWND window, Milliseconds timeout)
{
    PostTrayMouse(window, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindVisibleMenu()) != nullptr; }, timeout))
        return false;
    ChooseLastMenuItem(menu);
    return agent.WaitEnded(timeout);
}

double Milli(ULONGLONG from, ULONGLONG to)
{
    return to >= from ? static_cast<double>(to - from) / 10000.0 : -static_cast<double>(from - to) / 10000.0;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Fixed(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Milliseconds from a program's creation to its first tray icon, and its peak working set.
struct StartFigures {
    double startupMs = 0;
    std::size_t peakBytes = 0;
};

std::optional<StartFigures> MeasureStart(const FakeTray& tray, const ChildProcess& process, Milliseconds timeout)
{
    std::optional<TrayEvent> added;
    WaitFor(
        [&] {
            for (const auto& event : tray.Events()) {
                if (event.action == TrayAction::Add && ProcessOf(event.icon.owner) == process.Id())
                    added = event;
            }
            return added.has_value() || process.HasEnded();
        },
        timeout, 1ms);
    if (!added)
        return std::nullopt;
    return StartFigures{Milli(process.CreationTime(), added->at), process.PeakWorkingSet()};
}

// Waits for the next line of a recording browser and gives its start time.
std::optional<ULONGLONG> NextBrowserStart(const std::string& log, std::size_t linesBefore, Milliseconds timeout)
{
    std::optional<ULONGLONG> started;
    WaitFor(
        [&] {
            const auto lines = ReadLines(log);
            if (lines.size() > linesBefore) {
                if (const auto recorded = ParseRecorded(lines.back()))
                    started = recorded->createdAt;
                return true;
            }
            return false;
        },
        timeout, 1ms);
    return started;
}

// Double-click to the recording browser's start, with the prompt skipped.
std::optional<double> MeasureLogon(HWND window, const std::string& browserLog, Milliseconds timeout)
{
    const std::size_t lines = ReadLines(browserLog).size();
    const ULONGLONG clicked = FileTimeNow();
    PostTrayDoubleClick(window);
    const auto started = NextBrowserStart(browserLog, lines, timeout);
    if (!started)
        return std::nullopt;
    return Milli(clicked, *started);
}

// The shell alone opening a URL: the part of a logon that is the browser's start.
std::optional<double> MeasureShellAlone(const std::string& browserLog, Milliseconds timeout)
{
    const std::size_t lines = ReadLines(browserLog).size();
    const ULONGLONG asked = FileTimeNow();
    ShellExecuteA(nullptr, "open", "http://logon.example.com/cgi-bin/login.cgi?Authenticate=", nullptr, nullptr,
                  SW_SHOW);
    const auto started = NextBrowserStart(browserLog, lines, timeout);
    if (!started)
        return std::nullopt;
    return Milli(asked, *started);
}

// Starting a program as the agent starts lampup.exe: the call returns only once the new
// program is idle.
double MeasureProgramStart(const std::string& program)
{
    const ULONGLONG at = FileTimeNow();
    WinExec(program.c_str(), SW_SHOW);
    return Milli(at, FileTimeNow());
}

// The bus calls of one scan of all seven (port, adapter type) pairs, made here by the agent's
// own scan through the same library the agent loads: what a logon spends in the bus library.
std::optional<double> MeasureBusScan(const std::string& libraryPath)
{
    const scoped::Module library(LoadLibraryA(libraryPath.c_str()));
    const auto entryPoints = library ? ResolveBusEntryPoints(library.Get()) : std::nullopt;
    if (!entryPoints)
        return std::nullopt;
    static std::vector<unsigned char> state(kBusStateBufferSize);
    RomRecord record{};
    const ULONGLONG began = FileTimeNow();
    ScanPorts(*entryPoints, state.data(), 0x3F, record);
    return Milli(began, FileTimeNow());
}

struct RunFigures {
    StartFigures agent;
    StartFigures probe;
    double logonMs = 0;              // lampup.exe beside the agent, as installed
    double logonWithoutLampupMs = 0; // lampup.exe absent: its start fails at once
    double shellMs = 0;
    double lampupMs = 0;
    double busScanMs = 0;
    std::size_t agentPeakAfterLogon = 0;
};

std::vector<double> Pick(const std::vector<RunFigures>& runs, double (*figure)(const RunFigures&))
{
    std::vector<double> values;
    for (const auto& run : runs)
        values.push_back(figure(run));
    return values;
}

void ReportMeasurements(const std::vector<RunFigures>& runs)
{
    const double agentStart = Median(Pick(runs, [](const RunFigures& r) { return r.agent.startupMs; }));
    const double probeStart = Median(Pick(runs, [](const RunFigures& r) { return r.probe.startupMs; }));
    const double logon = Median(Pick(runs, [](const RunFigures& r) { return r.logonMs; }));
    const double bare = Median(Pick(runs, [](const RunFigures& r) { return r.logonWithoutLampupMs; }));
    const double shell = Median(Pick(runs, [](const RunFigures& r) { return r.shellMs; }));
    const double lampup = Median(Pick(runs, [](const RunFigures& r) { return r.lampupMs; }));
    std::size_t agentPeak = 0, probePeak = 0;
    for (const auto& run : runs) {
        agentPeak = std::max(agentPeak, run.agentPeakAfterLogon);
        probePeak = std::max(probePeak, run.probe.peakBytes);
    }
    Say("median start-up to icon: agent " + Fixed(agentStart) + " ms, probe " + Fixed(probeStart) +
        " ms, agent's own work " + Fixed(agentStart - probeStart) + " ms (goal < 50)");
    const double bus = Median(Pick(runs, [](const RunFigures& r) { return r.busScanMs; }));
    Say("median double-click to browser start: " + Fixed(logon) + " ms with lampup.exe (its start alone " +
        Fixed(lampup) + " ms), " + Fixed(bare) + " ms without; shell alone " + Fixed(shell) +
        " ms; the scan's bus calls alone " + Fixed(bus) + " ms; logon overhead " + Fixed(bare - shell - bus) +
        " ms (goal < 5)");
    Say("peak working set: agent " + Fixed(agentPeak / 1048576.0) + " MB, probe " + Fixed(probePeak / 1048576.0) +
        " MB, difference " + Fixed((static_cast<double>(agentPeak) - static_cast<double>(probePeak)) / 1048576.0) +
        " MB (goal < 8)");
}

std::optional<RunFigures> MeasureRun(const FakeTray& tray, const std::shared_ptr<ProcessJob>& job,
                                     const std::string& agentPath, const std::string& probePath,
                                     const std::string& browserLog, Milliseconds timeout)
{
    RunFigures figures;
    auto probe = ChildProcess::Start({probePath, {}, FolderOf(probePath), {}}, job);
    const auto probeFigures = probe ? MeasureStart(tray, *probe, timeout) : std::nullopt;
    if (!probeFigures) {
        Fail("the probe program added no tray icon");
        return std::nullopt;
    }
    figures.probe = *probeFigures;
    probe->Kill();

    const AgentProfile profile;
    profile.Erase();
    profile.WriteInt("Options", "SkipAccessDialog", 1);
    auto agent = ChildProcess::Start({agentPath, {}, FolderOf(agentPath), {}}, job);
    const auto agentFigures = agent ? MeasureStart(tray, *agent, timeout) : std::nullopt;
    if (!agentFigures) {
        Fail("the agent added no tray icon (is the driver missing?)");
        return std::nullopt;
    }
    figures.agent = *agentFigures;
    HWND window = FindAgentWindow();

    const std::string lampup = FolderOf(agentPath) + "lampup.exe";
    const std::string parked = lampup + ".parked";
    const auto logon = MeasureLogon(window, browserLog, timeout);
    const bool moved = MoveFileA(lampup.c_str(), parked.c_str()) != FALSE;
    const auto bare = moved ? MeasureLogon(window, browserLog, timeout) : std::nullopt;
    if (moved)
        MoveFileA(parked.c_str(), lampup.c_str());
    figures.agentPeakAfterLogon = agent->PeakWorkingSet();
    ExitAgent(*agent, window, timeout);
    const auto shell = MeasureShellAlone(browserLog, timeout);
    if (!logon || !bare || !shell) {
        Fail("a logon or the shell did not start the recording browser (is there exactly one token?)");
        return std::nullopt;
    }
    figures.logonMs = *logon;
    figures.logonWithoutLampupMs = *bare;
    figures.shellMs = *shell;
    figures.lampupMs = MeasureProgramStart(lampup);
    const auto bus = MeasureBusScan(FolderOf(agentPath) + "VTFS32.DLL");
    if (!bus) {
        Fail("the bus library beside the agent could not be bound");
        return std::nullopt;
    }
    figures.busScanMs = *bus;
    profile.Erase();
    return figures;
}

int Measure(const std::vector<std::string>& args)
{
    if (args.size() < 4)
        return kExitUsage;
    const std::string& agentPath = args[0];
    const std::string& probePath = args[1];
    const std::string& browserPath = args[2];
    const int runCount = std::max(1, std::atoi(args[3].c_str()));
    const std::string browserLog = browserPath.substr(0, browserPath.find_last_of('.')) + ".log";

    auto tray = FakeTray::Install(kDefaultTimeout);
    if (!tray)
        return Fail("could not stand in for the notification area");
    RegisterUrlHandler("http", "\"" + browserPath + "\" \"%1\"");
    const auto job = ProcessJob::Create();

    std::vector<RunFigures> runs;
    for (int run = 1; run <= runCount; ++run) {
        const auto figures = MeasureRun(*tray, job, agentPath, probePath, browserLog, kDefaultTimeout);
        if (!figures)
            return kExitFailed;
        runs.push_back(*figures);
        Say("run " + std::to_string(run) + ": start-up to icon " + Fixed(figures->agent.startupMs) + " ms (probe " +
            Fixed(figures->probe.startupMs) + " ms); double-click to browser " + Fixed(figures->logonMs) + " ms, " +
            Fixed(figures->logonWithoutLampupMs) + " ms without lampup.exe (shell alone " + Fixed(figures->shellMs) +
            " ms, lampup start alone " + Fixed(figures->lampupMs) + " ms, bus calls alone " +
            Fixed(figures->busScanMs) + " ms); peak working set " + Fixed(figures->agentPeakAfterLogon / 1048576.0) +
            " MB");
    }
    ReportMeasurements(runs);
    return kExitOk;
}

int WaitAgent(const std::vector<std::string>& args)
{
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindAgentWindow()) != nullptr; }, SecondsArgument(args, 0)))
        return Fail("no agent window appeared");
    char line[128];
    std::snprintf(line, sizeof line, "agent window %p, style 0x%08lX, extended style 0x%08lX",
                  static_cast<void*>(window), static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    Say(line);
    return kExitOk;
}

int Tray(const std::vector<std::string>& args)
{
    HWND window = FindAgentWindow();
    if (args.empty() || !window)
        return window ? kExitUsage : Fail("no agent is running");
    if (args[0] == "left")
        return PostTrayMouse(window, WM_LBUTTONDOWN) && PostTrayMouse(window, WM_LBUTTONUP) ? kExitOk : kExitFailed;
    if (args[0] == "right")
        return PostTrayMouse(window, WM_RBUTTONDOWN) && PostTrayMouse(window, WM_RBUTTONUP) ? kExitOk : kExitFailed;
    if (args[0] == "double")
        return PostTrayDoubleClick(window) ? kExitOk : kExitFailed;
    return kExitUsage;
}

int Menu(const std::vector<std::string>& args)
{
    if (args.empty())
        return kExitUsage;
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindVisibleMenu()) != nullptr; }, kDefaultTimeout))
        return Fail("no popup menu is open");
    const bool chosen =
        args[0] == "last" ? ChooseLastMenuItem(menu) : ChooseMenuItemByDown(menu, std::atoi(args[0].c_str()));
    return chosen ? kExitOk : kExitFailed;
}

HWND WaitForTitledDialog(const std::string& title, Milliseconds timeout)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(0, [&](HWND dialog) { return TextOf(dialog) == title; })) != nullptr; },
            timeout);
    return found;
}

int WaitDialog(const std::vector<std::string>& args)
{
    if (args.empty())
        return kExitUsage;
    HWND dialog = WaitForTitledDialog(args[0], SecondsArgument(args, 1));
    if (!dialog)
        return Fail("no dialog \"" + args[0] + "\"");
    for (const auto& text : StaticTexts(dialog)) {
        if (!text.empty())
            Say(text);
    }
    return kExitOk;
}

int Press(const std::vector<std::string>& args)
{
    if (args.size() < 2)
        return kExitUsage;
    HWND dialog = WaitForTitledDialog(args[0], kDefaultTimeout);
    if (!dialog)
        return Fail("no dialog \"" + args[0] + "\"");
    return PostButtonClick(dialog, std::atoi(args[1].c_str())) ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv, argv + argc);
    if (words.size() < 2) {
        std::fprintf(stderr,
                     "usage: uidriver measure|wait-agent|tray|menu|wait-dialog|press ... (see the source header)\n");
        return kExitUsage;
    }
    const std::string command = words[1];
    const std::vector<std::string> args(words.begin() + 2, words.end());
    int result = kExitUsage;
    if (command == "measure")
        result = Measure(args);
    else if (command == "wait-agent")
        result = WaitAgent(args);
    else if (command == "tray")
        result = Tray(args);
    else if (command == "menu")
        result = Menu(args);
    else if (command == "wait-dialog")
        result = WaitDialog(args);
    else if (command == "press")
        result = Press(args);
    if (result == kExitUsage)
        std::fprintf(stderr, "uidriver: bad arguments for \"%s\" (see the source header)\n", command.c_str());
    return result;
}
