#include "FakeBus.h"

#include <cstring>
#include <stdexcept>

FakeBus* FakeBus::s_current = nullptr;

FakeDevice FakeDevice::Rom(uint8_t family, uint8_t serial, uint8_t crc)
{
    FakeDevice device;
    device.cells = {family, serial, 0x11, 0x22, 0x33, 0x44, 0x55, crc};
    return device;
}

FakeBus::FakeBus()
{
    if (s_current) {
        throw std::logic_error("one FakeBus at a time");
    }
    s_current = this;
}

FakeBus::~FakeBus()
{
    s_current = nullptr;
}

BusEntryPoints FakeBus::EntryPoints() const
{
    BusEntryPoints entryPoints;
    entryPoints.BXExtendedStartSession = &StartSession;
    entryPoints.BXSetup = &Setup;
    entryPoints.BXNext = &Next;
    entryPoints.BXRom = &Rom;
    entryPoints.BXClose = &Close;
    entryPoints.BXEndSession = &EndSession;
    return entryPoints;
}

std::vector<std::pair<int, int>> FakeBus::StartedPairs() const
{
    return m_started;
}

void FakeBus::Record(std::string call)
{
    if (m_recordCalls) {
        m_calls.push_back(std::move(call));
    }
}

FakeBus::Session* FakeBus::Find(int32_t session)
{
    return session > 0 && session == m_openHandle ? &m_open : nullptr;
}

int32_t FakeBus::StartSession(int16_t port, int16_t adapter, void* reserved)
{
    FakeBus& bus = *s_current;
    if (reserved != nullptr) {
        throw std::logic_error("the reserved argument must be null");
    }
    int32_t result = 0;
    auto pair = bus.m_pairs.find({port, adapter});
    if (pair != bus.m_pairs.end()) {
        result = pair->second.start.value_or(port * 100 + adapter);
        if (result > 0) {
            if (bus.m_openHandle != 0) {
                ++bus.m_overlaps;
            }
            bus.m_openHandle = result;
            bus.m_open = Session{&pair->second, 0};
            ++bus.m_opened;
        }
    }
    if (bus.m_recordCalls) {
        bus.m_started.emplace_back(port, adapter);
        bus.Record("start " + std::to_string(port) + " " + std::to_string(adapter) + " = " + std::to_string(result));
    }
    return result;
}

int16_t FakeBus::Setup(int32_t session)
{
    FakeBus& bus = *s_current;
    if (bus.m_recordCalls) {
        bus.Record("setup " + std::to_string(session));
    }
    Session* open = bus.Find(session);
    return open ? open->pair->setup : int16_t{-1};
}

int16_t FakeBus::Next(int32_t session, void* state)
{
    FakeBus& bus = *s_current;
    if (bus.m_recordCalls) {
        bus.Record("next " + std::to_string(session));
        bus.m_buffers.push_back(state);
    }
    Session* open = bus.Find(session);
    if (!open) {
        return -1;
    }
    const FakePair& pair = *open->pair;
    if (open->cursor < pair.devices.size()) {
        ++open->cursor;
        return 1;
    }
    return pair.endless && !pair.devices.empty() ? int16_t{1} : pair.endOfBus;
}

int16_t FakeBus::Rom(int32_t session, void* state, int16_t* rom)
{
    FakeBus& bus = *s_current;
    ++bus.m_romReads;
    if (bus.m_recordCalls) {
        bus.Record("rom " + std::to_string(session));
        bus.m_buffers.push_back(state);
        bus.m_cell0AtRead.push_back(static_cast<uint16_t>(rom[0]));
    }
    Session* open = bus.Find(session);
    if (!open || open->cursor == 0) {
        return -1;
    }
    const FakeDevice& device = open->pair->devices[open->cursor - 1];
    if (device.romResult == 1) {
        std::memcpy(rom, device.cells.data(), sizeof(uint16_t) * static_cast<std::size_t>(device.cellsWritten));
    }
    return device.romResult;
}

int16_t FakeBus::Close(int32_t session)
{
    FakeBus& bus = *s_current;
    ++bus.m_closed;
    if (bus.m_recordCalls) {
        bus.Record("close " + std::to_string(session));
    }
    return 1;
}

int16_t FakeBus::EndSession(int32_t session)
{
    FakeBus& bus = *s_current;
    ++bus.m_ended;
    if (bus.m_recordCalls) {
        bus.Record("end " + std::to_string(session));
    }
    if (session == bus.m_openHandle) {
        bus.m_openHandle = 0;
    }
    return 1;
}
