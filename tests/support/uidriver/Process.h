#pragma once
// Programs a test starts, and the promise that none of them outlives the test: every process
// started here, and every process those start, is put into one job that kills them all when
// the last owner goes away.
#include "tests/support/uidriver/EnvironmentBlock.h"
#include "platform/Handle.h"
#include "tests/support/uidriver/Wait.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace uidriver {

struct ProgramStart {
    std::string program;                        // full path of the .exe
    std::vector<std::string> arguments;         // quoted as needed
    std::string folder;                         // current directory; empty: the test's own
    std::vector<EnvironmentChange> environment; // over the test's own environment
};

// The kill-on-close job of one test program; ChildProcess puts each child into it.
class ProcessJob {
public:
    static std::shared_ptr<ProcessJob> Create();
    bool Adopt(HANDLE process) const;
    // Ends every process in the job (children of children included) and waits for them.
    void KillAll(Milliseconds timeout) const;
    std::vector<DWORD> ProcessIds() const;
    HANDLE Get() const { return m_job.Get(); }

private:
    scoped::KernelHandle m_job;
};

class ChildProcess {
public:
    // Started suspended, put into the job, then resumed: the program runs no instruction
    // outside the job. None when the program cannot be started (GetLastError tells why).
    static std::optional<ChildProcess> Start(const ProgramStart& start, std::shared_ptr<ProcessJob> job);

    ChildProcess(ChildProcess&&) noexcept = default;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ~ChildProcess();

    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process.Get(); }
    bool HasEnded() const;
    bool WaitEnded(Milliseconds timeout) const;
    std::optional<DWORD> ExitCode() const; // none while it runs
    // Terminates it (when it still runs) and waits until it is gone.
    void Kill();
    // Working-set peak so far, in bytes; 0 when it cannot be read.
    std::size_t PeakWorkingSet() const;
    // The moment the process was created, on the system clock of FILETIME ticks.
    ULONGLONG CreationTime() const;

private:
    ChildProcess(scoped::KernelHandle process, DWORD id, std::shared_ptr<ProcessJob> job)
        : m_process(std::move(process)), m_id(id), m_job(std::move(job))
    {
    }

    scoped::KernelHandle m_process;
    DWORD m_id = 0;
    std::shared_ptr<ProcessJob> m_job;
};

// This test program's own folder with a trailing backslash.
std::string OwnFolder();

// A fresh empty folder for the files of one test, without a trailing backslash.
std::string MakeTempFolder();
void WriteTextFile(const std::string& path, const std::string& text);
// Appends with one write at the end of the file, whoever else appends: lines of several
// programs never interleave. False when the file could not be written.
bool AppendToFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);

// The current environment as "NAME=value" entries.
std::vector<std::string> CurrentEnvironment();

// The current moment on the FILETIME clock (100 ns ticks).
ULONGLONG FileTimeNow();

} // namespace uidriver
