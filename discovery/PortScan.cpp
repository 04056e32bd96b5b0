#include "discovery/PortScan.h"

namespace {

// Closes and ends one opened session when the scan of its pair is over, however it ends.
class SessionGuard {
public:
    SessionGuard(const BusEntryPoints& bus, int32_t session) : m_bus(bus), m_session(session) {}
    ~SessionGuard()
    {
        m_bus.BXClose(m_session);
        m_bus.BXEndSession(m_session);
    }
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    const BusEntryPoints& m_bus;
    int32_t m_session;
};

} // namespace

int IsIgnoredFamily(const RomRecord& record)
{
    const uint16_t family = record.cells[0];
    return family == 0x09 || family == 0x12 || family == 0x81 ? 1 : 0;
}

void ScanPort(const BusEntryPoints& bus, void* stateBuffer, int portNumber, int adapterType, RomRecordList& list)
{
    const int32_t session =
        bus.BXExtendedStartSession(static_cast<int16_t>(portNumber), static_cast<int16_t>(adapterType), nullptr);
    if (session <= 0) {
        return;
    }
    const SessionGuard guard(bus, session);
    if (bus.BXSetup(session) != 1) {
        return;
    }
    // Zeroed once per pair, so that cells a library leaves alone hold a defined value. Only
    // cell 0 is cleared before each read: the others keep what the previous read left.
    RomRecord working{};
    int devices = 0;
    for (int16_t found = bus.BXNext(session, stateBuffer); found > 0; found = bus.BXNext(session, stateBuffer)) {
        working.cells[0] = 0;
        const int16_t read = bus.BXRom(session, stateBuffer, reinterpret_cast<int16_t*>(working.cells));
        if (read == 1 && IsIgnoredFamily(working) == 0) {
            list.push_back(std::make_unique<RomRecord>(working));
        }
        if (++devices == kMaxDevicesPerSession) {
            break;
        }
    }
}

int ScanPorts(const BusEntryPoints& bus, void* stateBuffer, unsigned mask, RomRecord& record)
{
    RomRecordList list;
    for (const ScanRow& row : ScanOrder) {
        if ((mask & PortBit(row.port)) != 0) {
            ScanPort(bus, stateBuffer, row.portNumber, row.adapterType, list);
        }
    }
    if (list.size() > 1) {
        return -1;
    }
    if (list.empty()) {
        return 0;
    }
    record = *list.front();
    return 1;
}
