#include "framework/MessageBox.h"

#include "framework/Application.h"

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

int AppMessageBox(const std::string& text, UINT type)
{
    const Application* application = Application::Current();
    const std::string caption = application ? application->Title() : std::string();
    return ShowMessageBox(GetActiveWindow(), text, caption, type);
}
