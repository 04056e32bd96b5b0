#include "tests/support/uidriver/AgentMeasurement.h"

#include "discovery/BusLibrary.h"
#include "discovery/PortScan.h"
#include "platform/FilePath.h"
#include "platform/Handle.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/RecordedLines.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/ToolOutput.h"
#include "tests/support/uidriver/TrayDriver.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

namespace uidriver {

using namespace std::chrono_literals;

namespace {

std::string FolderOf(const std::string& path)
{
    return filepath::Beside(path, "", &ansi::IsLeadByte).value_or(std::string());
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
                if (const auto recorded = ParseRecordedStart(lines.back()))
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
    ScanPorts(*entryPoints, state.data(), kAllPortsMask, record);
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

} // namespace

int MeasureAgent(const std::vector<std::string>& args, Milliseconds timeout)
{
    if (args.size() < 4)
        return kExitUsage;
    const std::string& agentPath = args[0];
    const std::string& probePath = args[1];
    const std::string& browserPath = args[2];
    const int runCount = std::max(1, std::atoi(args[3].c_str()));
    const std::string browserLog = browserPath.substr(0, browserPath.find_last_of('.')) + ".log";

    auto tray = FakeTray::Install(timeout);
    if (!tray)
        return Fail("could not stand in for the notification area");
    RegisterUrlHandler("http", "\"" + browserPath + "\" \"%1\"");
    const auto job = ProcessJob::Create();

    std::vector<RunFigures> runs;
    for (int run = 1; run <= runCount; ++run) {
        const auto figures = MeasureRun(*tray, job, agentPath, probePath, browserLog, timeout);
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

} // namespace uidriver
