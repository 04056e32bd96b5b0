// The stand-in VTFS32.DLL's entry points: each one reads nothing but its arguments, asks the
// simulated library, writes one call-log line and returns. Nothing may throw past them.
#include <mutex>
#include <string>

#include "standins/common/CallLog.h"
#include "standins/common/ReaderSourceWin.h"
#include "standins/vtfs32/SimulatedBusLibrary.h"
#include "discovery/BusApi.h"

namespace {

// The agent has one thread, but a test tool should not break when a caller has several.
std::mutex g_lock;
SimulatedBusLibrary g_library;
CallLog g_log("");
bool g_logChosen = false;

std::string Pointer(const void* pointer)
{
    return pointer ? "ptr" : "null";
}

// Reads the reader afresh at every session start, so tests may change it between scans.
ReaderDescription ReloadReader()
{
    std::string error;
    ReaderDescription reader = LoadReaderForModule(&g_lock, &error);
    g_log = OpenCallLog(reader);
    g_logChosen = true;
    if (!error.empty()) {
        g_log.Append("reader: " + error);
    }
    return reader;
}

const CallLog& Log()
{
    if (!g_logChosen) {
        ReloadReader();
    }
    return g_log;
}

// Runs one call under the lock; an exception (only std::bad_alloc can occur) gives failed.
template <typename Result, typename Call>
Result Guarded(Result failed, Call call) noexcept
{
    try {
        std::lock_guard lock(g_lock);
        return call();
    } catch (...) {
        return failed;
    }
}

} // namespace

extern "C" {

int32_t BUSAPI BXExtendedStartSession(int16_t portNumber, int16_t adapterType, void* reserved)
{
    return Guarded<int32_t>(-1, [&] {
        ReaderDescription reader = ReloadReader();
        int32_t result = g_library.StartSession(reader, portNumber, adapterType);
        g_log.Append(FormatCall("BXExtendedStartSession",
                                {std::to_string(portNumber), std::to_string(adapterType), Pointer(reserved)},
                                std::to_string(result)));
        return result;
    });
}

int16_t BUSAPI BXEndSession(int32_t session)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = g_library.EndSession(session);
        Log().Append(FormatCall("BXEndSession", {std::to_string(session)}, std::to_string(result)));
        return result;
    });
}

int16_t BUSAPI BXSetup(int32_t session)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = g_library.Setup(session);
        Log().Append(FormatCall("BXSetup", {std::to_string(session)}, std::to_string(result)));
        return result;
    });
}

int16_t BUSAPI BXNext(int32_t session, void* stateBuffer)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = g_library.Next(session, stateBuffer);
        Log().Append(FormatCall("BXNext", {std::to_string(session), Pointer(stateBuffer)}, std::to_string(result)));
        return result;
    });
}

int16_t BUSAPI BXRom(int32_t session, void* stateBuffer, int16_t* rom)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = g_library.Rom(session, stateBuffer, rom);
        std::string line =
            FormatCall("BXRom", {std::to_string(session), Pointer(stateBuffer), Pointer(rom)}, std::to_string(result));
        if (auto current = g_library.CurrentRom(session); current && result == 1) {
            line += " " + *current;
        }
        Log().Append(line);
        return result;
    });
}

int16_t BUSAPI BXGetTypeVersion(int16_t adapterType, char* buffer)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = SimulatedBusLibrary::GetTypeVersion(adapterType, buffer);
        Log().Append(
            FormatCall("BXGetTypeVersion", {std::to_string(adapterType), Pointer(buffer)}, std::to_string(result)));
        return result;
    });
}

int16_t BUSAPI BXClose(int32_t session)
{
    return Guarded<int16_t>(-1, [&] {
        int16_t result = g_library.Close(session);
        Log().Append(FormatCall("BXClose", {std::to_string(session)}, std::to_string(result)));
        return result;
    });
}

} // extern "C"
