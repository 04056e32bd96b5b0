#pragma once
// One move-only owner for every kind of handle the driver holds: it closes exactly once.
#include <windows.h>

#include <utility>

namespace uidriver {

template <typename Handle, auto Close, Handle kNone = Handle{}>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : m_handle(handle) {}
    ~Owned() { Reset(); }

    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : m_handle(std::exchange(other.m_handle, kNone)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_handle = std::exchange(other.m_handle, kNone);
        }
        return *this;
    }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != kNone; }

    void Reset(Handle handle = kNone)
    {
        if (m_handle != kNone)
            Close(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle = kNone;
};

using OwnedHandle = Owned<HANDLE, &CloseHandle>;
using OwnedKey = Owned<HKEY, &RegCloseKey>;
using OwnedLibrary = Owned<HMODULE, &FreeLibrary>;

} // namespace uidriver
