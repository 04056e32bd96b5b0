// XOBAPI.dll stand-in: the exported entry points over one simulated token search per process.
#include "standins/common/ReaderSourceWin.h"
#include "standins/xobapi/SimulatedXobApi.h"
#include "lampup/XobLibraryApi.h"

namespace {

SimulatedXobApi& Library() noexcept
{
    return SimulationOfThisLibrary<SimulatedXobApi>("XOBAPI.dll");
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
