#pragma once
// Pressing buttons and reading message boxes of another process's dialogs. Everything that
// may open a modal window is posted, never sent, so the test never blocks inside it.
#include <windows.h>

#include <string>
#include <vector>

namespace uidriver {

// The click as the dialog sees it from its button: a posted command with BN_CLICKED.
bool PostButtonClick(HWND dialog, int id);
// A posted BM_CLICK: the button itself toggles (check boxes) and notifies the dialog.
bool PostButtonPress(HWND dialog, int id);
// BST_CHECKED state of a check box; false when the control cannot be read.
bool IsChecked(HWND dialog, int id);

struct MessageBoxView {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    std::vector<int> buttons; // command ids of the visible push buttons, in creation order
    HICON icon = nullptr;     // the picture shown, null for none
};

// Reads a message box (a dialog whose one text is its message): owner, caption, text, buttons
// and picture.
MessageBoxView ReadMessageBox(HWND window);

} // namespace uidriver
