#include "tests/support/uidriver/Process.h"

#include "platform/Program.h"
#include "tests/support/uidriver/CommandLine.h"

#include <psapi.h>

#include <fstream>
#include <sstream>

namespace uidriver {
namespace {

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

std::shared_ptr<ProcessJob> ProcessJob::Create()
{
    auto job = std::make_shared<ProcessJob>();
    job->m_job.Reset(CreateJobObjectA(nullptr, nullptr));
    if (!job->m_job)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job->m_job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

bool ProcessJob::Adopt(HANDLE process) const
{
    return AssignProcessToJobObject(m_job.Get(), process) != FALSE;
}

std::vector<DWORD> ProcessJob::ProcessIds() const
{
    // Room for far more processes than any test starts; the call fails rather than truncates
    // when there are more, and then nothing is reported.
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[255];
    } ids{};
    ids.list.NumberOfAssignedProcesses = 256;
    std::vector<DWORD> result;
    if (!QueryInformationJobObject(m_job.Get(), JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr))
        return result;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
        result.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
    return result;
}

void ProcessJob::KillAll(Milliseconds timeout) const
{
    TerminateJobObject(m_job.Get(), 1);
    WaitFor([&] { return ProcessIds().empty(); }, timeout);
}

std::optional<ChildProcess> ChildProcess::Start(const ProgramStart& start, std::shared_ptr<ProcessJob> job)
{
    std::string commandLine = BuildCommandLine(start.program, start.arguments);
    std::string environment = BuildEnvironmentBlock(CurrentEnvironment(), start.environment);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(start.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        environment.data(), start.folder.empty() ? nullptr : start.folder.c_str(), &startup, &created))
        return std::nullopt;
    scoped::KernelHandle process(created.hProcess);
    scoped::KernelHandle thread(created.hThread);
    if (job && !job->Adopt(process.Get())) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), INFINITE);
        return std::nullopt;
    }
    ResumeThread(thread.Get());
    return ChildProcess(std::move(process), created.dwProcessId, std::move(job));
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        Kill();
        m_process = std::move(other.m_process);
        m_id = other.m_id;
        m_job = std::move(other.m_job);
    }
    return *this;
}

ChildProcess::~ChildProcess()
{
    Kill();
}

bool ChildProcess::HasEnded() const
{
    return !m_process || WaitForSingleObject(m_process.Get(), 0) == WAIT_OBJECT_0;
}

bool ChildProcess::WaitEnded(Milliseconds timeout) const
{
    return !m_process || WaitForSingleObject(m_process.Get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::optional<DWORD> ChildProcess::ExitCode() const
{
    DWORD code = 0;
    if (!HasEnded() || !GetExitCodeProcess(m_process.Get(), &code))
        return std::nullopt;
    return code;
}

void ChildProcess::Kill()
{
    if (!m_process)
        return;
    if (!HasEnded()) {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), INFINITE);
    }
}

std::size_t ChildProcess::PeakWorkingSet() const
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(m_process.Get(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize;
}

ULONGLONG ChildProcess::CreationTime() const
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(m_process.Get(), &creation, &exit, &kernel, &user))
        return 0;
    return Ticks(creation);
}

std::string OwnFolder()
{
    return program::Beside("").value_or(std::string());
}

std::string MakeTempFolder()
{
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof(base), base);
    static int counter = 0;
    const std::string folder =
        std::string(base) + "uitest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool AppendToFile(const std::string& path, const std::string& text)
{
    const HANDLE opened = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    const scoped::KernelHandle file(opened);
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE &&
           written == text.size();
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> CurrentEnvironment()
{
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    if (!block)
        return entries;
    for (const char* entry = block; *entry; entry += lstrlenA(entry) + 1)
        entries.emplace_back(entry);
    FreeEnvironmentStringsA(block);
    return entries;
}

ULONGLONG FileTimeNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

} // namespace uidriver
