#pragma once
// A static text of a dialog template that behaves as a web link: underlined, a hand cursor
// and a tooltip with its address while the pointer is over it, and a click that opens the
// address in the browser. It is attached to its control by the dialog's data exchange.
#include "framework/AttachedControl.h"
#include "platform/Handle.h"

#include <windows.h>

#include <optional>
#include <string>

class HyperLinkLabel : public AttachedControl {
public:
    // The hover colour is the system's highlight colour at this moment.
    HyperLinkLabel();
    // Gives the control its own font back if it is still alive, then lets go of it.
    ~HyperLinkLabel() override;

    // Hands the message to the tooltip so it knows when the pointer rests on the link.
    bool PreTranslateMessage(MSG& msg) override;
    // STN_CLICKED opens the address; other notifications are not the label's.
    bool OnReflectedCommand(UINT notification) override;
    // The text colour of the link's state, drawn on whatever lies behind the control.
    HBRUSH OnReflectedControlColor(HDC dc, UINT message) override;

    // Sets the visited state and repaints the control when it exists.
    void MarkVisited(bool flag);
    // Shrinks (or grows) the control to its text in the link font, keeping its alignment.
    // Nothing happens without a window.
    void FitToText();

    bool Hovering() const noexcept { return m_hovering; }
    bool Visited() const noexcept { return m_visited; }
    const std::string& Url() const noexcept { return m_url; }
    HCURSOR LinkCursor() const noexcept { return m_linkCursor.Get(); }
    HWND Tip() const noexcept { return m_tip.Get(); }

protected:
    // Makes the control a link: notify style, address from its text, underlined font,
    // fitted size, hand cursor and the tooltip over the fitted rectangle.
    void PreSubclassWindow() override;
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnClicked();
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetCursor();
    void OnCaptureChanged(HWND newCapture);
    void CreateLinkFont();
    void CreateTip(const RECT& area);
    // Takes a private copy of the hand cursor once.
    void LoadLinkCursor();
    void RedrawNow();

    COLORREF m_hoverColor;
    bool m_hovering = false;
    bool m_visited = false;
    std::string m_url;
    scoped::Font m_linkFont;
    scoped::Cursor m_linkCursor;
    scoped::Window m_tip;
    // The font the control had before the link font; it belongs to the dialog, not to us.
    HFONT m_originalFont = nullptr;
};
