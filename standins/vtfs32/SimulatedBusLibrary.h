#pragma once
// The stand-in bus library's behaviour, apart from how it is exported: sessions on the buses
// of a reader description, device enumeration and ROM reads, with the described faults.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "standins/common/ReaderDescription.h"

class SimulatedBusLibrary {
public:
    // Opens a session on the bus at (port, adapter) of reader, which the session copies, so
    // a reader changed later affects later sessions only. No such bus: 0. A bus with a
    // "start" value returns that value, and a positive one becomes the session's handle;
    // otherwise each session gets a fresh positive handle.
    int32_t StartSession(const ReaderDescription& reader, int port, int adapter);

    // The bus's "setup" value; exactly 1 readies the session for enumeration from the top.
    // Unknown session: 0.
    int16_t Setup(int32_t session);

    // 1 when the next device was found and is now current, 0 at the end of the bus or on a
    // session that is unknown, not set up or closed; -1 without a state buffer.
    int16_t Next(int32_t session, const void* state);

    // 1 and the current device's eight cells (its "high" byte above each ROM byte), or 0
    // with rom untouched: no current device, a "romfail" device, or a closed session; -1
    // without a state buffer or ROM record.
    int16_t Rom(int32_t session, const void* state, int16_t* rom);

    // 1 for an open session, which then refuses enumeration; 0 otherwise.
    int16_t Close(int32_t session);

    // 1 and the session is gone; 0 for an unknown session.
    int16_t EndSession(int32_t session);

    // A short description of the adapter type, at most kTypeVersionSize bytes with the
    // terminating zero; 1, or 0 without a buffer.
    static constexpr std::size_t kTypeVersionSize = 32;
    static int16_t GetTypeVersion(int adapter, char* buffer);

    std::size_t OpenSessions() const { return m_sessions.size(); }

    // The ROM of the current device, for the call log.
    std::optional<std::string> CurrentRom(int32_t session) const;

private:
    struct Session {
        SimBus bus;
        bool ready = false;
        bool closed = false;
        std::size_t cursor = 0; // 1-based: 0 is before the first device, size + 1 after the last
    };

    Session* Find(int32_t session);
    const SimDevice* Current(const Session& session) const;
    int32_t NextHandle();

    std::map<int32_t, Session> m_sessions;
    int32_t m_lastHandle = 0;
};
