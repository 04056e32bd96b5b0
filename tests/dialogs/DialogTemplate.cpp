#include "DialogTemplate.h"

#include <cstring>

namespace {

// Walks the template's words, refusing to read past its end.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    bool Ok() const { return m_ok; }

    template <typename T>
    T Read()
    {
        T value{};
        if (m_position + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_position, sizeof(T));
        m_position += sizeof(T);
        return value;
    }

    std::wstring ReadString()
    {
        std::wstring text;
        for (WCHAR c = Read<WCHAR>(); m_ok && c != 0; c = Read<WCHAR>())
            text.push_back(c);
        return text;
    }

    // A string, or 0xFFFF followed by a number; empty string and 0 when absent.
    void ReadNameOrNumber(std::wstring& name, int& number)
    {
        const WORD first = Read<WORD>();
        if (first == 0xFFFF) {
            number = Read<WORD>();
        } else if (first != 0) {
            name.push_back(static_cast<WCHAR>(first));
            name += ReadString();
        }
    }

    void AlignToDword() { m_position = (m_position + 3) & ~size_t{3}; }
    void Skip(size_t count) { m_position += count; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_position = 0;
    bool m_ok = true;
};

std::string ToCodePage1252(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(1252, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

std::string PredefinedClass(int number)
{
    switch (number) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "#" + std::to_string(number);
    }
}

// Class names compare without regard to case; the predefined ones read as their ordinals do.
std::string CanonicalClass(const std::string& name)
{
    for (int number = 0x80; number <= 0x85; ++number) {
        const std::string known = PredefinedClass(number);
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, known.c_str(), -1, name.c_str(), -1) == CSTR_EQUAL)
            return known;
    }
    return name;
}

} // namespace

std::optional<DialogTemplate> LoadDialogTemplate(HMODULE module, int id)
{
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (!resource)
        return std::nullopt;
    const HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const BYTE*>(LockResource(loaded));
    if (!data)
        return std::nullopt;
    TemplateReader reader(data, SizeofResource(module, resource));

    if (reader.Read<WORD>() != 1 || reader.Read<WORD>() != 0xFFFF)
        return std::nullopt;
    DialogTemplate dialog;
    reader.Read<DWORD>(); // help id
    dialog.exStyle = reader.Read<DWORD>();
    dialog.style = reader.Read<DWORD>();
    const WORD count = reader.Read<WORD>();
    reader.Read<short>();
    reader.Read<short>();
    dialog.width = reader.Read<short>();
    dialog.height = reader.Read<short>();
    std::wstring menu;
    std::wstring windowClass;
    int number = 0;
    reader.ReadNameOrNumber(menu, number);
    reader.ReadNameOrNumber(windowClass, number);
    dialog.title = ToCodePage1252(reader.ReadString());
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = reader.Read<WORD>();
        reader.Read<WORD>(); // weight
        reader.Read<BYTE>(); // italic
        reader.Read<BYTE>(); // character set
        dialog.font = ToCodePage1252(reader.ReadString());
    }
    for (WORD i = 0; i < count && reader.Ok(); ++i) {
        reader.AlignToDword();
        TemplateControl control;
        reader.Read<DWORD>(); // help id
        control.exStyle = reader.Read<DWORD>();
        control.style = reader.Read<DWORD>();
        const short x = reader.Read<short>();
        const short y = reader.Read<short>();
        const short cx = reader.Read<short>();
        const short cy = reader.Read<short>();
        control.box = {x, y, x + cx, y + cy};
        control.id = static_cast<int>(reader.Read<DWORD>());
        std::wstring className;
        int classNumber = 0;
        reader.ReadNameOrNumber(className, classNumber);
        control.className =
            className.empty() ? PredefinedClass(classNumber) : CanonicalClass(ToCodePage1252(className));
        std::wstring text;
        reader.ReadNameOrNumber(text, control.imageId);
        control.text = ToCodePage1252(text);
        reader.Skip(reader.Read<WORD>()); // creation data
        dialog.controls.push_back(control);
    }
    if (!reader.Ok())
        return std::nullopt;
    return dialog;
}
