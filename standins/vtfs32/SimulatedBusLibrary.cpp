#include "standins/vtfs32/SimulatedBusLibrary.h"

#include <cstdio>
#include <limits>

int32_t SimulatedBusLibrary::NextHandle()
{
    do {
        m_lastHandle = m_lastHandle == std::numeric_limits<int32_t>::max() ? 1 : m_lastHandle + 1;
    } while (m_sessions.count(m_lastHandle) != 0);
    return m_lastHandle;
}

SimulatedBusLibrary::Session* SimulatedBusLibrary::Find(int32_t session)
{
    auto found = m_sessions.find(session);
    return found == m_sessions.end() ? nullptr : &found->second;
}

const SimDevice* SimulatedBusLibrary::Current(const Session& session) const
{
    if (!session.ready || session.closed || session.cursor == 0 || session.cursor > session.bus.devices.size()) {
        return nullptr;
    }
    return &session.bus.devices[session.cursor - 1];
}

int32_t SimulatedBusLibrary::StartSession(const ReaderDescription& reader, int port, int adapter)
{
    const SimBus* bus = reader.FindBus(port, adapter);
    if (!bus) {
        return 0;
    }
    const int32_t handle = bus->start ? *bus->start : NextHandle();
    if (handle > 0) {
        m_sessions[handle] = Session{*bus};
    }
    return handle;
}

int16_t SimulatedBusLibrary::Setup(int32_t session)
{
    Session* open = Find(session);
    if (!open) {
        return 0;
    }
    open->ready = open->bus.setup == 1 && !open->closed;
    open->cursor = 0;
    return open->bus.setup;
}

int16_t SimulatedBusLibrary::Next(int32_t session, const void* state)
{
    if (!state) {
        return -1;
    }
    Session* open = Find(session);
    if (!open || !open->ready || open->closed || open->cursor > open->bus.devices.size()) {
        return 0;
    }
    // Past the last device nothing is current any more.
    ++open->cursor;
    return open->cursor <= open->bus.devices.size() ? 1 : 0;
}

int16_t SimulatedBusLibrary::Rom(int32_t session, const void* state, int16_t* rom)
{
    if (!state || !rom) {
        return -1;
    }
    Session* open = Find(session);
    const SimDevice* device = open ? Current(*open) : nullptr;
    if (!device || device->romFail) {
        return 0;
    }
    for (std::size_t i = 0; i < device->rom.size(); ++i) {
        rom[i] = static_cast<int16_t>(static_cast<uint16_t>(device->high << 8 | device->rom[i]));
    }
    return 1;
}

int16_t SimulatedBusLibrary::Close(int32_t session)
{
    Session* open = Find(session);
    if (!open || open->closed) {
        return 0;
    }
    open->closed = true;
    return 1;
}

int16_t SimulatedBusLibrary::EndSession(int32_t session)
{
    return m_sessions.erase(session) != 0 ? 1 : 0;
}

int16_t SimulatedBusLibrary::GetTypeVersion(int adapter, char* buffer)
{
    if (!buffer) {
        return 0;
    }
    std::snprintf(buffer, kTypeVersionSize, "stand-in adapter %d, 1.0", adapter);
    return 1;
}

std::optional<std::string> SimulatedBusLibrary::CurrentRom(int32_t session) const
{
    auto found = m_sessions.find(session);
    if (found == m_sessions.end()) {
        return std::nullopt;
    }
    const SimDevice* device = Current(found->second);
    return device ? std::optional(FormatRom(device->rom)) : std::nullopt;
}
