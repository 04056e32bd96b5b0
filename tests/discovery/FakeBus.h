#pragma once
// A scripted bus library for scan tests: pairs with their session-start and setup results
// and their devices, behind the entry points the scan calls. It records
// every call so tests can check order and balance. One FakeBus exists at a time (the entry
// points are plain functions and find it through a static pointer).
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/BusApi.h"

struct FakeDevice {
    std::array<uint16_t, 8> cells{};
    int16_t romResult = 1;
    int cellsWritten = 8; // a read that reports success may still fill fewer cells

    static FakeDevice Rom(uint8_t family, uint8_t serial, uint8_t crc = 0x5A);
};

struct FakePair {
    std::optional<int32_t> start; // none: a positive session of the pair's own
    int16_t setup = 1;
    std::vector<FakeDevice> devices;
    int16_t endOfBus = 0; // what BXNext says after the last device
    bool endless = false; // BXNext never ends: the last device is found again and again
};

class FakeBus {
public:
    FakeBus();
    ~FakeBus();
    FakeBus(const FakeBus&) = delete;
    FakeBus& operator=(const FakeBus&) = delete;

    FakePair& Pair(int port, int adapter) { return m_pairs[{port, adapter}]; }
    BusEntryPoints EntryPoints() const;

    // Off: only the counters below are kept, and the fake allocates nothing while a scan runs.
    void RecordCalls(bool on) { m_recordCalls = on; }
    // "start 1 5 = 105", "setup 105", "next 105", "rom 105", "close 105", "end 105".
    const std::vector<std::string>& Calls() const { return m_calls; }
    std::vector<std::pair<int, int>> StartedPairs() const;

    int SessionsOpened() const { return m_opened; }
    int SessionsClosed() const { return m_closed; }
    int SessionsEnded() const { return m_ended; }
    int RomReads() const { return m_romReads; }
    // Sessions started while another was still open (the scan opens one at a time).
    int Overlaps() const { return m_overlaps; }
    // Every state buffer BXNext and BXRom were given, and cell 0 as each BXRom found it.
    const std::vector<const void*>& BuffersSeen() const { return m_buffers; }
    const std::vector<uint16_t>& Cell0AtRead() const { return m_cell0AtRead; }

private:
    struct Session {
        const FakePair* pair = nullptr;
        std::size_t cursor = 0; // 1-based: 0 is before the first device
    };

    static FakeBus* s_current;
    static int32_t StartSession(int16_t port, int16_t adapter, void* reserved);
    static int16_t Setup(int32_t session);
    static int16_t Next(int32_t session, void* state);
    static int16_t Rom(int32_t session, void* state, int16_t* rom);
    static int16_t Close(int32_t session);
    static int16_t EndSession(int32_t session);

    void Record(std::string call);
    Session* Find(int32_t session);

    std::map<std::pair<int, int>, FakePair> m_pairs;
    int32_t m_openHandle = 0;
    Session m_open;
    bool m_recordCalls = true;
    std::vector<std::string> m_calls;
    std::vector<std::pair<int, int>> m_started;
    std::vector<const void*> m_buffers;
    std::vector<uint16_t> m_cell0AtRead;
    int m_opened = 0;
    int m_closed = 0;
    int m_ended = 0;
    int m_romReads = 0;
    int m_overlaps = 0;
};
