// XobComm.dll stand-in: the exported entry points over one simulated bus per process. The
// reader is read at the first call, not while the loader holds its lock. Nothing may unwind
// into the caller's frames, which know nothing of C++: the state and its loading are noexcept,
// so a failure there ends the process at once instead.
#include "standins/common/ReaderSourceWin.h"
#include "standins/xobcomm/SimulatedXobComm.h"
#include "lampup/XobLibraryApi.h"

namespace {

const char kModuleMarker = 0;

SimulatedXobComm LoadLibraryState()
{
    std::string error;
    const ReaderDescription reader = LoadReaderForModule(&kModuleMarker, &error);
    CallLog log = OpenCallLog(reader);
    if (!error.empty())
        log.Append("XobComm.dll: reader description: " + error);
    return SimulatedXobComm(reader, std::move(log));
}

SimulatedXobComm& Library() noexcept
{
    static SimulatedXobComm library = LoadLibraryState();
    return library;
}

} // namespace

extern "C" {

uint8_t XOBAPI_CALL VtKeyOpen(void)
{
    return Library().KeyOpen();
}
uint8_t* XOBAPI_CALL VtROMData(void)
{
    return Library().RomData();
}
uint8_t XOBAPI_CALL VtOverdriveOff(void)
{
    return Library().OverdriveOff();
}
uint8_t XOBAPI_CALL VtFirst(void)
{
    return Library().First();
}
uint8_t XOBAPI_CALL VtNext(void)
{
    return Library().Next();
}
uint8_t XOBAPI_CALL VtStrongAccess(void)
{
    return Library().StrongAccess();
}
uint8_t XOBAPI_CALL VtDataBlock(uint8_t* block, int32_t length)
{
    return Library().DataBlock(block, length);
}
uint8_t XOBAPI_CALL VtKeyClose(void)
{
    return Library().KeyClose();
}
}
