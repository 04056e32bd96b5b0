#pragma once
// Reads an extended dialog template from a module's resources, as the resource compiler
// wrote it, so tests can compare it with what each dialog must look like.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct TemplateControl {
    int id = 0;
    std::string className; // "Button", "Edit", "Static" ... for the predefined classes
    std::string text;      // in code page 1252
    int imageId = 0;       // a resource number in place of a text (icons, bitmaps)
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT box{}; // x, y, x + width, y + height in dialog units
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    int width = 0;
    int height = 0;
    std::string title;
    int pointSize = 0;
    std::string font;
    std::vector<TemplateControl> controls;
};

// None when the resource is missing, is not an extended template or is cut short.
std::optional<DialogTemplate> LoadDialogTemplate(HMODULE module, int id);
