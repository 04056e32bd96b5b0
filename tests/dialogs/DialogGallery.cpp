// Shows one dialog of the agent, for screenshots: prints "ready x y width height" (the
// dialog's screen rectangle) once it is painted, and closes it when a line arrives on the
// standard input.
//   dialog_gallery ports | url | about | <template id>
#include "dialogs/AboutDialog.h"
#include "dialogs/AccessUrlDialog.h"
#include "dialogs/PortOptionsDialog.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/UiScript.h"
#include "tests/support/uidriver/WindowQuery.h"
#include "tests/support/profile/InMemoryProfileBackend.h"
#include "framework/Application.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace uidriver;

// A template of the agent shown with nothing but the common colour rule.
class TemplateDialog : public Dialog {
public:
    using Dialog::Dialog;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override
    {
        static constexpr MessageMapEntry kMap[] = {DialogColorRule()};
        return kMap;
    }
};

std::unique_ptr<Dialog> MakeDialog(const std::string& which)
{
    if (which == "ports")
        return std::make_unique<PortOptionsDialog>();
    if (which == "url")
        return std::make_unique<AccessUrlDialog>();
    if (which == "about")
        return std::make_unique<AboutDialog>();
    return std::make_unique<TemplateDialog>(std::stoi(which));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_gallery ports|url|about|<template id>\n");
        return 2;
    }
    InMemoryProfileBackend backend;
    Application application(backend);
    Application::Enable3dControls();
    std::unique_ptr<Dialog> dialog;
    try {
        dialog = MakeDialog(argv[1]);
    } catch (const std::exception&) {
        std::fprintf(stderr, "dialog_gallery: not a dialog: %s\n", argv[1]);
        return 2;
    }

    std::thread closer;
    UiScript script(std::chrono::minutes(2));
    script.Then("dialog shown", [&] {
        const HWND window = dialog->Handle();
        if (!window || !IsWindowVisible(window))
            return false;
        UpdateWindow(window);
        RECT box{};
        GetWindowRect(window, &box);
        std::printf("ready %ld %ld %ld %ld\n", box.left, box.top, box.right - box.left, box.bottom - box.top);
        std::fflush(stdout);
        closer = std::thread([window] {
            std::string line;
            std::getline(std::cin, line);
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        });
        return true;
    });
    int result = 0;
    script.Run([&] { result = dialog->DoModal(); });
    if (closer.joinable())
        closer.join();
    return result == -1 ? 1 : 0;
}
