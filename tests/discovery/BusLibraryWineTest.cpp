// The binding with the real loader, and a scan through the stand-in library. Each case puts
// the library variant it needs into a folder of its own and prepends that folder to PATH, one
// of the places the system's usual library search looks; the built libraries themselves sit
// in folders the search never sees.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/BusLibrary.h"
#include "platform/Program.h"
#include "tests/support/uidriver/Process.h"

namespace fs = std::filesystem;

namespace {

// Every entry point's name, from the one list the binding works from.
std::vector<std::string> AllExports()
{
    std::vector<std::string> names;
    BusEntryPoints entryPoints;
    ForEachBusEntryPoint(entryPoints, [&](const char* name, auto&) { names.emplace_back(name); });
    return names;
}

// "vtfs32" or "vtfs32-missing-<Name>": the folder the build put that library in.
fs::path BuiltLibrary(const std::string& variant)
{
    return fs::path(uidriver::OwnFolder()).parent_path().parent_path() / "standins" / variant / "VTFS32.DLL";
}

std::optional<std::string> Environment(const char* name)
{
    char value[32768];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) {
        return std::nullopt;
    }
    return std::string(value, length);
}

// Sets an environment variable for one scope and puts the old value back.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const std::string& value) : m_name(name), m_old(Environment(name))
    {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~EnvironmentScope() { SetEnvironmentVariableA(m_name, m_old ? m_old->c_str() : nullptr); }
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A folder of one case's own holding a copy of one library variant, first on PATH while the
// object lives, removed afterwards.
class LibraryFolder {
public:
    explicit LibraryFolder(const std::string& variant)
        : m_folder(fs::temp_directory_path() /
                   ("vtfs32-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(s_count++))),
          m_path("PATH", m_folder.string() + ";" + Environment("PATH").value_or(""))
    {
        fs::create_directories(m_folder);
        fs::copy_file(BuiltLibrary(variant), m_folder / "VTFS32.DLL");
    }
    ~LibraryFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    LibraryFolder(const LibraryFolder&) = delete;
    LibraryFolder& operator=(const LibraryFolder&) = delete;

    const fs::path& Folder() const { return m_folder; }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(m_folder / name, std::ios::binary) << text;
    }

private:
    static inline int s_count = 0;
    fs::path m_folder;
    EnvironmentScope m_path;
};

bool LibraryLoaded()
{
    return GetModuleHandleA("VTFS32.DLL") != nullptr;
}

// The entry points' addresses, in the list's order.
std::vector<const void*> Addresses(BusEntryPoints entryPoints)
{
    std::vector<const void*> addresses;
    ForEachBusEntryPoint(entryPoints,
                         [&](const char*, auto slot) { addresses.push_back(reinterpret_cast<const void*>(slot)); });
    return addresses;
}

bool AllNull(const BusEntryPoints& entryPoints)
{
    const auto addresses = Addresses(entryPoints);
    return std::all_of(addresses.begin(), addresses.end(), [](const void* address) { return address == nullptr; });
}

HMODULE ModuleOf(const void* address)
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

// Every entry point lies inside the library loaded under the name VTFS32.DLL right now.
bool EntryPointsInLoadedLibrary()
{
    HMODULE loaded = GetModuleHandleA("VTFS32.DLL");
    for (const void* address : Addresses(BoundBusEntryPoints())) {
        if (!address || ModuleOf(address) != loaded) {
            return false;
        }
    }
    return loaded != nullptr;
}

std::vector<std::string> Lines(const fs::path& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class BusLibraryBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(IsBusLibraryBound());
        ASSERT_FALSE(LibraryLoaded());
    }
    void TearDown() override { UnbindBusLibrary(); }
};

} // namespace

TEST_F(BusLibraryBinding, MissingLibraryGivesZeroAndTheNextBindTriesAgain)
{
    EXPECT_EQ(0, BindBusLibrary());
    EXPECT_FALSE(IsBusLibraryBound());
    EXPECT_TRUE(AllNull(BoundBusEntryPoints()));
    EXPECT_EQ(0, BindBusLibrary());

    LibraryFolder folder("vtfs32");
    EXPECT_EQ(1, BindBusLibrary());
    EXPECT_TRUE(IsBusLibraryBound());
    EXPECT_TRUE(EntryPointsInLoadedLibrary());
    UnbindBusLibrary();
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(BusLibraryBinding, LibraryLackingAnyOneExportIsRefusedAndUnloaded)
{
    const std::vector<std::string> allExports = AllExports();
    ASSERT_EQ(7u, allExports.size());
    for (const std::string& missing : allExports) {
        SCOPED_TRACE(missing);
        LibraryFolder folder("vtfs32-missing-" + missing);
        EXPECT_EQ(0, BindBusLibrary());
        EXPECT_FALSE(IsBusLibraryBound());
        EXPECT_FALSE(LibraryLoaded());
        EXPECT_TRUE(AllNull(BoundBusEntryPoints()));

        // The variant was findable and lacks exactly that one name.
        HMODULE module = LoadLibraryA("VTFS32.DLL");
        ASSERT_NE(nullptr, module);
        for (const std::string& name : allExports) {
            EXPECT_EQ(name != missing, GetProcAddress(module, name.c_str()) != nullptr) << name;
        }
        FreeLibrary(module);
        ASSERT_FALSE(LibraryLoaded());
    }
}

TEST_F(BusLibraryBinding, SecondBindLoadsNothing)
{
    LibraryFolder folder("vtfs32");
    ASSERT_EQ(1, BindBusLibrary());
    const BusEntryPoints first = BoundBusEntryPoints();
    EXPECT_EQ(1, BindBusLibrary());
    EXPECT_EQ(0, std::memcmp(&first, &BoundBusEntryPoints(), sizeof first));
    // Had the second bind loaded the library again, one release would leave it loaded.
    UnbindBusLibrary();
    EXPECT_FALSE(LibraryLoaded());
    EXPECT_TRUE(AllNull(BoundBusEntryPoints()));
    UnbindBusLibrary(); // unbound: nothing happens
    EXPECT_FALSE(IsBusLibraryBound());
}

TEST_F(BusLibraryBinding, BindAfterUnbindLoadsAndResolvesAfresh)
{
    {
        LibraryFolder first("vtfs32");
        ASSERT_EQ(1, BindBusLibrary());
        UnbindBusLibrary();
        EXPECT_FALSE(LibraryLoaded());
    }
    LibraryFolder second("vtfs32");
    ASSERT_EQ(1, BindBusLibrary());
    EXPECT_TRUE(EntryPointsInLoadedLibrary());
    const std::string path = program::ModulePath(GetModuleHandleA("VTFS32.DLL"));
    EXPECT_TRUE(fs::equivalent(second.Folder() / "VTFS32.DLL", path)) << path;
}

TEST_F(BusLibraryBinding, UnboundScanFindsNothingInsteadOfCrashing)
{
    RomRecord record{};
    EXPECT_EQ(0, ScanBoundBus(63, record));
}

TEST_F(BusLibraryBinding, ScanThroughTheStandInFindsWhatItsReaderDescribes)
{
    LibraryFolder folder("vtfs32");
    // Beside the library: a token and the indicator switch on USB, a second token on COM1
    // through the second serial adapter type, and faults on other pairs.
    folder.Write("reader.txt", "bus 1 6\n"
                               "  device 01A1B2C3D4E5F6C7\n"
                               "  device 12000000000042A9\n"
                               "  device 0100000000000001 romfail\n"
                               "bus 1 1\n"
                               "  device 0112131415161718 high 0x01  # 0x0101: no reader family\n"
                               "bus 1 5\n"
                               "  start -1\n"
                               "  device 0199999999999999\n"
                               "bus 2 5\n"
                               "  setup 0\n"
                               "  device 0188888888888888\n");
    const fs::path log = folder.Folder() / "calls.log";
    EnvironmentScope logScope("ENTRAVO_SIM_LOG", log.string());
    ASSERT_EQ(1, BindBusLibrary());

    RomRecord record;
    std::memset(&record, 0xEE, sizeof record);

    ASSERT_EQ(1, ScanBoundBus(32, record));
    const RomRecord usbToken{{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}};
    EXPECT_EQ(0, std::memcmp(&usbToken, &record, sizeof record));
    const std::vector<std::string> usbCalls{
        "BXExtendedStartSession(1, 6, null) = 1",
        "BXSetup(1) = 1",
        "BXNext(1, ptr) = 1",
        "BXRom(1, ptr, ptr) = 1 01A1B2C3D4E5F6C7",
        "BXNext(1, ptr) = 1",
        "BXRom(1, ptr, ptr) = 1 12000000000042A9",
        "BXNext(1, ptr) = 1",
        "BXRom(1, ptr, ptr) = 0",
        "BXNext(1, ptr) = 0",
        "BXClose(1) = 1",
        "BXEndSession(1) = 1",
    };
    EXPECT_EQ(usbCalls, Lines(log));

    // All six ports: the second token makes two.
    std::memset(&record, 0xEE, sizeof record);
    EXPECT_EQ(-1, ScanBoundBus(63, record));
    EXPECT_EQ(0xEEEE, record.cells[0]);
    const std::vector<std::string> lines = Lines(log);
    ASSERT_GT(lines.size(), usbCalls.size());
    const std::vector<std::string> allCalls(lines.begin() + static_cast<long>(usbCalls.size()), lines.end());
    EXPECT_EQ(allCalls.front(), "BXExtendedStartSession(1, 5, null) = -1"); // nothing else on COM1/5
    EXPECT_EQ(allCalls[1], "BXExtendedStartSession(2, 5, null) = 2");
    EXPECT_EQ(allCalls[2], "BXSetup(2) = 0");
    EXPECT_EQ(allCalls[3], "BXClose(2) = 1");
    EXPECT_EQ(allCalls[4], "BXEndSession(2) = 1");
    EXPECT_EQ(allCalls.back(), "BXExtendedStartSession(4, 5, null) = 0");

    // The serial and parallel ports without USB: the COM1 token alone, upper bytes and all.
    ASSERT_EQ(1, ScanBoundBus(31, record));
    const RomRecord com1Token{{0x0101, 0x0112, 0x0113, 0x0114, 0x0115, 0x0116, 0x0117, 0x0118}};
    EXPECT_EQ(0, std::memcmp(&com1Token, &record, sizeof record));

    // The variable names another description, read at the next session start.
    folder.Write("other.txt", "bus 1 6\n  device 0200000000000002\n  device 0300000000000003\n");
    EnvironmentScope readerScope("ENTRAVO_SIM_READER", (folder.Folder() / "other.txt").string());
    EXPECT_EQ(-1, ScanBoundBus(32, record));
    EXPECT_EQ(0x0101, record.cells[0]);
}
