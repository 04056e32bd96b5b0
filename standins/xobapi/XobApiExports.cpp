// XOBAPI.dll stand-in: the exported entry points over one simulated token search per process.
// The reader is read at the first call, not while the loader holds its lock. Nothing may
// unwind into the caller's frames, which know nothing of C++: the state and its loading are
// noexcept, so a failure there ends the process at once instead.
#include "standins/common/ReaderSourceWin.h"
#include "standins/xobapi/SimulatedXobApi.h"
#include "lampup/XobLibraryApi.h"

namespace {

const char kModuleMarker = 0;

SimulatedXobApi LoadLibraryState()
{
    std::string error;
    const ReaderDescription reader = LoadReaderForModule(&kModuleMarker, &error);
    CallLog log = OpenCallLog(reader);
    if (!error.empty())
        log.Append("XOBAPI.dll: reader description: " + error);
    return SimulatedXobApi(reader, std::move(log));
}

SimulatedXobApi& Library() noexcept
{
    static SimulatedXobApi library = LoadLibraryState();
    return library;
}

} // namespace

extern "C" {

void XOBAPI_CALL SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c)
{
    Library().SetSearchParams(a, b, c);
}
uint32_t XOBAPI_CALL FindXobs(uint8_t* count)
{
    return Library().Find(count);
}
void XOBAPI_CALL SelectXob(uint32_t found)
{
    Library().Select(found);
}
const char* XOBAPI_CALL GetFirmwareVersionString(void)
{
    return Library().FirmwareVersion();
}
}
