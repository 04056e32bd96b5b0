// XobComm.dll stand-in: the exported entry points over one simulated bus per process.
#include "standins/common/ReaderSourceWin.h"
#include "standins/xobcomm/SimulatedXobComm.h"
#include "lampup/XobLibraryApi.h"

namespace {

SimulatedXobComm& Library() noexcept
{
    return SimulationOfThisLibrary<SimulatedXobComm>("XobComm.dll");
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
