#pragma once
// Where a stand-in library finds its reader and its call log on Windows.
#include <optional>
#include <string>

#include "standins/common/CallLog.h"
#include "standins/common/ReaderDescription.h"

// The variable as the process sees it now. (The C runtime's getenv keeps a copy taken at
// start-up and misses SetEnvironmentVariableA, which test programs use.)
std::optional<std::string> EnvironmentValue(const char* name);

// The folder, without a trailing separator, of the module that holds addressInModule.
std::string ModuleFolder(const void* addressInModule);

// The reader for the library that holds addressInModule: ENTRAVO_SIM_READER, or reader.txt
// beside that library. *error as for LoadReaderDescription.
ReaderDescription LoadReaderForModule(const void* addressInModule, std::string* error);

// The call log for a reader: ENTRAVO_SIM_LOG, or the reader's "log" directive, or none.
CallLog OpenCallLog(const ReaderDescription& reader);

// The one simulation of the stand-in library this is compiled into, made from its reader at
// the first call rather than while the loader holds its lock. Nothing may unwind into callers
// that know nothing of C++: a failure while making it ends the process at once (noexcept).
template <typename Simulation>
Simulation& SimulationOfThisLibrary(const char* libraryName) noexcept
{
    static Simulation simulation = [libraryName] {
        // An address inside this library, which tells where its reader lies.
        static const char marker = 0;
        std::string error;
        const ReaderDescription reader = LoadReaderForModule(&marker, &error);
        CallLog log = OpenCallLog(reader);
        if (!error.empty())
            log.Append(std::string(libraryName) + ": reader description: " + error);
        return Simulation(reader, std::move(log));
    }();
    return simulation;
}
