#pragma once
// A dialog class's message map: a table of (message, source, handler) rows, written with
// the helpers below and searched in order before the dialog's built-in handling.
//
//   std::span<const MessageMapEntry> PortOptionsDialog::GetMessageMap() const
//   {
//       static constexpr MessageMapEntry kMap[] = {
//           OnCommand<&PortOptionsDialog::OnSelectAll>(BN_CLICKED, IDC_SELECT_ALL),
//           DialogColorRule(),
//       };
//       return kMap;
//   }
#include <windows.h>

class Dialog;

enum class MessageRoute {
    Command,      // WM_COMMAND with a given notification code from a given control id
    ControlColor, // every WM_CTLCOLOR* message, from every control and the dialog itself
    Message,      // any other window message, by number
};

struct MessageMapEntry {
    MessageRoute route;
    UINT message;      // for MessageRoute::Message
    UINT notification; // for MessageRoute::Command
    int id;            // for MessageRoute::Command
    // Runs the handler; the result is what the dialog procedure returns.
    INT_PTR (*invoke)(Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

constexpr bool IsControlColorMessage(UINT message)
{
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

namespace message_map_detail {
template <typename MemberPointer>
struct MemberOf;
template <typename Class, typename Signature>
struct MemberOf<Signature Class::*> {
    using Type = Class;
};
template <auto Handler>
using OwnerOf = typename MemberOf<decltype(Handler)>::Type;
} // namespace message_map_detail

// void Handler() — a control's notification, e.g. BN_CLICKED from a push button.
template <auto Handler>
constexpr MessageMapEntry OnCommand(UINT notification, int id)
{
    using Owner = message_map_detail::OwnerOf<Handler>;
    return {MessageRoute::Command, WM_COMMAND, notification, id, [](Dialog& dialog, UINT, WPARAM, LPARAM) -> INT_PTR {
                (static_cast<Owner&>(dialog).*Handler)();
                return TRUE;
            }};
}

// HBRUSH Handler(HDC dc, HWND control, UINT message) — the brush answers the request.
template <auto Handler>
constexpr MessageMapEntry OnControlColor()
{
    using Owner = message_map_detail::OwnerOf<Handler>;
    return {MessageRoute::ControlColor, 0, 0, 0,
            [](Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
                return reinterpret_cast<INT_PTR>((static_cast<Owner&>(dialog).*Handler)(
                    reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message));
            }};
}

// void Handler(WPARAM, LPARAM) — any other message; it counts as handled.
template <auto Handler>
constexpr MessageMapEntry OnMessage(UINT message)
{
    using Owner = message_map_detail::OwnerOf<Handler>;
    return {MessageRoute::Message, message, 0, 0, [](Dialog& dialog, UINT, WPARAM wParam, LPARAM lParam) -> INT_PTR {
                (static_cast<Owner&>(dialog).*Handler)(wParam, lParam);
                return TRUE;
            }};
}
