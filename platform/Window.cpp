#include "platform/Window.h"

#include <algorithm>

namespace window {

std::string Text(HWND window)
{
    // The length may be overstated (never understated); the copy says how much there was.
    const int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::clamp(copied, 0, length)));
    return text;
}

} // namespace window
