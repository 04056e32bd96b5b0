#include "discovery/ProfileScan.h"

#include "discovery/BusLibrary.h"
#include "discovery/PortScan.h"

int ScanPorts(const ProfileStore& store, RomRecord& record)
{
    // Start-up refuses to run without the library, so this only guards against a caller's
    // mistake: calling through null slots would crash the agent.
    if (!IsBusLibraryBound()) {
        return 0;
    }
    return ScanPorts(BoundBusEntryPoints(), BusStateBuffer(), store.GetPortMask(), record);
}
