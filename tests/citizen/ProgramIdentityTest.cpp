// What Windows reads from the two programs before any of their code runs: the manifest (rights,
// supported versions, DPI awareness) and the version resource, read back from the built files
// with the system's own resource functions.
#include "platform/Handle.h"
#include "tests/support/uidriver/Process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr WORD kManifestType = 24;
constexpr WORD kProcessManifestId = 1;

struct Program {
    const char* fileName;
    const char* internalName;
};

constexpr Program kPrograms[] = {{"logonagent.exe", "logonagent"}, {"lampup.exe", "lampup"}};

std::string BuiltPath(const Program& program)
{
    return uidriver::OwnFolder() + program.fileName;
}

scoped::Module LoadAsData(const std::string& path)
{
    return scoped::Module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::optional<std::string> ResourceBytes(HMODULE module, WORD type, WORD id)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
    if (!found)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const auto* data = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
    if (!data)
        return std::nullopt;
    return std::string(data, SizeofResource(module, found));
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    auto* collected = reinterpret_cast<std::vector<ULONG_PTR>*>(names);
    collected->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR{0});
    return TRUE;
}

std::vector<ULONG_PTR> ManifestIds(HMODULE module)
{
    std::vector<ULONG_PTR> ids;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(kManifestType), &CollectName, reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

class VersionInfo {
public:
    explicit VersionInfo(const std::string& path)
    {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        m_block.resize(size);
        if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, m_block.data()))
            m_block.clear();
    }

    bool Present() const { return !m_block.empty(); }

    std::optional<VS_FIXEDFILEINFO> Fixed() const
    {
        const void* value = Query("\\");
        if (!value)
            return std::nullopt;
        return *static_cast<const VS_FIXEDFILEINFO*>(value);
    }

    // A string of the first translation the block lists.
    std::optional<std::string> String(const std::string& name) const
    {
        const auto* translation = static_cast<const WORD*>(Query("\\VarFileInfo\\Translation"));
        if (!translation)
            return std::nullopt;
        char path[80];
        wsprintfA(path, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
        UINT length = 0;
        const void* value = Query(path + name, &length);
        if (!value || length == 0)
            return std::nullopt;
        return std::string(static_cast<const char*>(value));
    }

private:
    const void* Query(const std::string& path, UINT* length = nullptr) const
    {
        if (m_block.empty())
            return nullptr;
        void* value = nullptr;
        UINT size = 0;
        if (!VerQueryValueA(m_block.data(), path.c_str(), &value, &size))
            return nullptr;
        if (length)
            *length = size;
        return value;
    }

    std::vector<char> m_block;
};

// The About box's version text ("Vantok(R) Entravo v1.0") as it stands in dialog template 100.
std::optional<std::string> AboutBoxVersion(HMODULE agent)
{
    constexpr WORD kDialogType = 5;
    constexpr WORD kAboutDialog = 100;
    const auto bytes = ResourceBytes(agent, kDialogType, kAboutDialog);
    if (!bytes)
        return std::nullopt;
    // Template strings are UTF-16; the version text is plain ASCII after " v".
    std::string narrow;
    for (std::size_t i = 0; i + 1 < bytes->size(); i += 2)
        narrow.push_back(static_cast<unsigned char>((*bytes)[i + 1]) == 0 ? (*bytes)[i] : '?');
    const auto at = narrow.find("Entravo v");
    if (at == std::string::npos)
        return std::nullopt;
    const auto start = at + 9;
    const auto end = narrow.find('\0', start);
    return narrow.substr(start, end - start);
}

} // namespace

TEST(ProgramIdentity, EachProgramCarriesOneProcessManifestThatTheSystemAccepts)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.fileName);
        const std::string path = BuiltPath(program);
        scoped::Module module = LoadAsData(path);
        ASSERT_TRUE(module) << "cannot open " << path;
        EXPECT_EQ(std::vector<ULONG_PTR>{kProcessManifestId}, ManifestIds(module.Get()));

        // An activation context is what the loader builds from it; a malformed manifest fails here.
        ACTCTXA context{};
        context.cbSize = sizeof(context);
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = path.c_str();
        context.lpResourceName = MAKEINTRESOURCEA(kProcessManifestId);
        HANDLE activation = CreateActCtxA(&context);
        EXPECT_NE(INVALID_HANDLE_VALUE, activation) << "error " << GetLastError();
        if (activation != INVALID_HANDLE_VALUE)
            ReleaseActCtx(activation);
    }
}

TEST(ProgramIdentity, ManifestAsksForNoElevationNamesWindows7To11AndSystemDpiAwareness)
{
    const char* const expected[] = {
        R"(level="asInvoker")",
        R"(uiAccess="false")",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // Windows 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // Windows 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10 and 11
        R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>)",
    };
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.fileName);
        scoped::Module module = LoadAsData(BuiltPath(program));
        ASSERT_TRUE(module);
        const auto manifest = ResourceBytes(module.Get(), kManifestType, kProcessManifestId);
        ASSERT_TRUE(manifest);
        EXPECT_EQ(0u, manifest->find("<?xml")) << "the manifest starts with its XML declaration";
        for (const char* text : expected)
            EXPECT_NE(std::string::npos, manifest->find(text)) << text;
        // The dialogs' colours were made for the classic controls; visual styles are not asked for.
        EXPECT_EQ(std::string::npos, manifest->find("Common-Controls"));
        EXPECT_EQ(std::string::npos, manifest->find("dpiAwareness"))
            << "per-monitor awareness would need rescaling code";
    }
}

TEST(ProgramIdentity, VersionResourceNamesTheProductAndRelease100InBothForms)
{
    for (const Program& program : kPrograms) {
        SCOPED_TRACE(program.fileName);
        const VersionInfo version(BuiltPath(program));
        ASSERT_TRUE(version.Present());
        const auto fixed = version.Fixed();
        ASSERT_TRUE(fixed);
        EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
        EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
        EXPECT_EQ(0u, fixed->dwFileVersionLS);
        EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
        EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
        EXPECT_EQ(0u, fixed->dwFileFlags & fixed->dwFileFlagsMask) << "a release is neither debug nor pre-release";

        EXPECT_EQ("Vantok Entravo", version.String("ProductName"));
        EXPECT_EQ("1.0.0", version.String("FileVersion"));
        EXPECT_EQ("1.0.0", version.String("ProductVersion"));
        EXPECT_EQ(program.internalName, version.String("InternalName"));
        EXPECT_EQ(program.fileName, version.String("OriginalFilename"));
        const auto description = version.String("FileDescription");
        ASSERT_TRUE(description);
        EXPECT_EQ(0u, description->find("Vantok Entravo ")) << *description;
    }
    EXPECT_NE(VersionInfo(BuiltPath(kPrograms[0])).String("FileDescription"),
              VersionInfo(BuiltPath(kPrograms[1])).String("FileDescription"))
        << "each program says what it is";
}

TEST(ProgramIdentity, AboutBoxShowsTheMajorAndMinorOfTheAgentsFileVersion)
{
    const std::string path = BuiltPath(kPrograms[0]);
    scoped::Module module = LoadAsData(path);
    ASSERT_TRUE(module);
    const auto shown = AboutBoxVersion(module.Get());
    ASSERT_TRUE(shown);
    const auto fixed = VersionInfo(path).Fixed();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)),
              *shown);
}
