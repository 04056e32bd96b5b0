#pragma once
// Ownership of Win32 handles: one move-only template, one alias per kind of handle, and the
// two scope types of drawing (a window's device context, an object selected into one).
#include <windows.h>

#include <utility>

namespace scoped {

// H is the kind of handle, CloseFunction what closes one; null means "none".
template <typename H, auto CloseFunction>
class Handle {
public:
    Handle() noexcept = default;
    explicit Handle(H handle) noexcept : m_handle(handle) {}
    ~Handle() { Reset(); }

    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    Handle(Handle&& other) noexcept : m_handle(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    H Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }

    // Gives the handle away; this object then owns nothing.
    [[nodiscard]] H Release() noexcept { return std::exchange(m_handle, nullptr); }

    void Reset(H handle = nullptr) noexcept
    {
        const H old = std::exchange(m_handle, handle);
        if (old != nullptr)
            CloseFunction(old);
    }

private:
    H m_handle = nullptr;
};

using RegKey = Handle<HKEY, &RegCloseKey>;
using Module = Handle<HMODULE, &FreeLibrary>;
using KernelHandle = Handle<HANDLE, &CloseHandle>;
using Font = Handle<HFONT, &DeleteObject>;
using Bitmap = Handle<HBITMAP, &DeleteObject>;
// A device context made by CreateCompatibleDC; a window's own is a WindowDC below.
using MemoryDC = Handle<HDC, &DeleteDC>;
using Icon = Handle<HICON, &DestroyIcon>;
// A cursor made by CopyIcon or CreateCursor; shared cursors from LoadCursor are not owned.
using Cursor = Handle<HCURSOR, &DestroyCursor>;
using Menu = Handle<HMENU, &DestroyMenu>;
using Window = Handle<HWND, &DestroyWindow>;

// A window's device context, released when it goes out of scope.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDC()
    {
        if (m_dc)
            ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC Get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects a GDI object into a device context and puts the previous one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(dc && object ? SelectObject(dc, object) : nullptr)
    {
    }
    ~Selection()
    {
        if (m_previous)
            SelectObject(m_dc, m_previous);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

} // namespace scoped
