#pragma once
// Ownership of Win32 handles: one move-only template, one alias per kind of handle.
#include <windows.h>

#include <utility>

// Traits name the handle type, the value that means "none" and how to close one.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != Traits::Invalid(); }

    // Gives the handle away; this object then owns nothing.
    [[nodiscard]] Handle Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }

    void Reset(Handle handle = Traits::Invalid()) noexcept
    {
        const Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

    // For functions that hand a new handle back through a pointer (RegCreateKeyExA and the
    // like): closes what is held and lends the slot.
    Handle* Receive() noexcept
    {
        Reset();
        return &m_handle;
    }

private:
    Handle m_handle = Traits::Invalid();
};

// Most handles use null for "none".
template <typename H, auto CloseFunction>
struct NullIsNone {
    using Handle = H;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { CloseFunction(handle); }
};

// File handles use INVALID_HANDLE_VALUE for "none".
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) noexcept { CloseHandle(handle); }
};

using ScopedRegKey = UniqueHandle<NullIsNone<HKEY, &RegCloseKey>>;
using ScopedModule = UniqueHandle<NullIsNone<HMODULE, &FreeLibrary>>;
using ScopedKernelHandle = UniqueHandle<NullIsNone<HANDLE, &CloseHandle>>;
using ScopedFileHandle = UniqueHandle<FileHandleTraits>;
using ScopedFont = UniqueHandle<NullIsNone<HFONT, &DeleteObject>>;
using ScopedBrush = UniqueHandle<NullIsNone<HBRUSH, &DeleteObject>>;
using ScopedBitmap = UniqueHandle<NullIsNone<HBITMAP, &DeleteObject>>;
using ScopedMemoryDC = UniqueHandle<NullIsNone<HDC, &DeleteDC>>;
using ScopedIcon = UniqueHandle<NullIsNone<HICON, &DestroyIcon>>;
// A cursor made by CopyIcon or CreateCursor; shared cursors from LoadCursor are not owned.
using ScopedCursor = UniqueHandle<NullIsNone<HCURSOR, &DestroyCursor>>;
using ScopedMenu = UniqueHandle<NullIsNone<HMENU, &DestroyMenu>>;
using ScopedWindow = UniqueHandle<NullIsNone<HWND, &DestroyWindow>>;

// A window's device context, released when it goes out of scope.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~ScopedWindowDC()
    {
        if (m_dc)
            ReleaseDC(m_window, m_dc);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC Get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects a GDI object into a device context and puts the previous one back.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept
        : m_dc(dc), m_previous(dc && object ? SelectObject(dc, object) : nullptr)
    {
    }
    ~ScopedSelectObject()
    {
        if (m_previous)
            SelectObject(m_dc, m_previous);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
