// lampup.exe as the agent starts it: a process of its own, beside the token libraries (here
// their stand-ins), judged by the stand-ins' call log and its exit status.
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Handle.h"
#include "platform/Program.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr DWORD kRunTimeoutMs = 30000;
constexpr DWORD kNotFinished = 0xFFFFFFFF;

// A throwaway folder holding lampup.exe, the two stand-in libraries and a reader description.
class LampupFolder {
public:
    explicit LampupFolder(const std::string& reader, bool withXobApi = true)
    {
        const fs::path bin = fs::path(program::ModulePath()).parent_path();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        m_folder = fs::path(temp) /
                   ("lampup-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++m_foldersMade));
        fs::create_directories(m_folder);
        fs::copy_file(bin / "lampup.exe", m_folder / "lampup.exe");
        fs::copy_file(bin / ".." / "standins" / "xobcomm" / "XobComm.dll", m_folder / "XobComm.dll");
        if (withXobApi)
            fs::copy_file(bin / ".." / "standins" / "xobapi" / "XOBAPI.dll", m_folder / "XOBAPI.dll");
        std::ofstream(m_folder / "reader.txt") << reader << "\nlog calls.log\n";
    }

    ~LampupFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    LampupFolder(const LampupFolder&) = delete;
    LampupFolder& operator=(const LampupFolder&) = delete;

    // Starts lampup.exe as the agent does and waits, within a bound, for its exit status.
    DWORD Run(const std::string& arguments = {}) const
    {
        std::string commandLine = "lampup.exe" + (arguments.empty() ? std::string() : " " + arguments);
        const std::string program = (m_folder / "lampup.exe").string();
        const std::string folder = m_folder.string();
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                            &startup, &info))
            return kNotFinished;
        scoped::KernelHandle process(info.hProcess);
        scoped::KernelHandle thread(info.hThread);
        if (WaitForSingleObject(process.Get(), kRunTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(process.Get(), 1);
            WaitForSingleObject(process.Get(), kRunTimeoutMs);
            return kNotFinished;
        }
        DWORD status = kNotFinished;
        GetExitCodeProcess(process.Get(), &status);
        return status;
    }

    std::vector<std::string> Log() const
    {
        std::ifstream file(m_folder / "calls.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

private:
    static inline int m_foldersMade = 0;
    fs::path m_folder;
};

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return found;
}

// The ROM buffer each session line reports ("...; rom 0011223344556677").
std::string RomOf(const std::string& line)
{
    const auto at = line.rfind("rom ");
    return at == std::string::npos ? std::string() : line.substr(at + 4);
}

const char* const kWorkingReader = "bus 1 6\n"
                                   "  device 01A1B2C3D4E5F6C7\n"
                                   "  device 12000000000042A9\n";

} // namespace

TEST(LampupProgram, WorkingSwitchReceivesBothStatesAndTheBufferIsLeftAsFound)
{
    LampupFolder folder(kWorkingReader);
    ASSERT_EQ(0u, folder.Run());

    const auto log = folder.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("SetXobSearchParamsEx(0, 0, 132) = none", log.front());
    EXPECT_THAT(Matching(log, "FindXobs"), ElementsAre("FindXobs(0) = 0x584F0001; count 1"));
    EXPECT_THAT(Matching(log, "SelectXob"), ElementsAre("SelectXob(0x584F0001) = none"));
    EXPECT_THAT(Matching(log, "switch "),
                ElementsAre("switch 12000000000042A9 state 73", "switch 12000000000042A9 state 53"));
    EXPECT_EQ(2u, Matching(log, "VtDataBlock").size());

    const auto opens = Matching(log, "VtKeyOpen() = 1");
    const auto closes = Matching(log, "VtKeyClose() = 1");
    ASSERT_EQ(2u, opens.size());
    ASSERT_EQ(2u, closes.size());
    for (std::size_t i = 0; i < opens.size(); ++i)
        EXPECT_EQ(RomOf(opens[i]), RomOf(closes[i])) << "session " << i;
    EXPECT_EQ("0000000000000000", RomOf(closes.back()));
}

TEST(LampupProgram, CommandLineChangesNothing)
{
    LampupFolder plain(kWorkingReader);
    LampupFolder withArguments(kWorkingReader);
    ASSERT_EQ(0u, plain.Run());
    ASSERT_EQ(0u, withArguments.Run("/quiet --port=COM1 \"x y\""));
    EXPECT_EQ(plain.Log(), withArguments.Log());
}

TEST(LampupProgram, SwitchThatNeverAnswersGetsElevenAttemptsAndNoSecondCommand)
{
    LampupFolder folder("bus 1 6\n  device 12000000000042A9 wrong always\n");
    ASSERT_EQ(0u, folder.Run());

    const auto log = folder.Log();
    const auto blocks = Matching(log, "VtDataBlock");
    EXPECT_EQ(11u, blocks.size());
    for (const auto& block : blocks)
        EXPECT_THAT(block, HasSubstr("VtDataBlock(55 07 00 73 FF FF, 6) = 1"));
    EXPECT_TRUE(Matching(log, "switch ").empty());
    EXPECT_EQ(1u, Matching(log, "VtKeyOpen").size());
    EXPECT_EQ(1u, Matching(log, "VtKeyClose").size());
}

TEST(LampupProgram, SwitchRightOnTheFourthAttemptThenGetsTheFinalState)
{
    LampupFolder folder("bus 1 6\n  device 92000000000042A9 wrong 3\n");
    ASSERT_EQ(0u, folder.Run());

    const auto log = folder.Log();
    EXPECT_EQ(5u, Matching(log, "VtDataBlock").size());
    EXPECT_THAT(Matching(log, "switch "),
                ElementsAre("switch 92000000000042A9 state 73", "switch 92000000000042A9 state 53"));
}

TEST(LampupProgram, NoXobFoundMeansNoFurtherCall)
{
    LampupFolder folder(std::string(kWorkingReader) + "xobs 0\n");
    ASSERT_EQ(0u, folder.Run());
    EXPECT_THAT(folder.Log(),
                ElementsAre("SetXobSearchParamsEx(0, 0, 132) = none", "FindXobs(0) = 0x584F0000; count 0"));
}

TEST(LampupProgram, FailingSessionOpenEndsTheRunQuietly)
{
    LampupFolder folder(std::string(kWorkingReader) + "keyopen fail\n");
    ASSERT_EQ(0u, folder.Run());

    const auto log = folder.Log();
    EXPECT_THAT(Matching(log, "Vt"), ElementsAre("VtKeyOpen() = 0; rom 0000000000000000"));
}

TEST(LampupProgram, DoesNotStartWithoutItsTokenLibrary)
{
    LampupFolder folder(kWorkingReader, false);
    const DWORD status = folder.Run();
    EXPECT_NE(0u, status);
    EXPECT_NE(kNotFinished, status);
    EXPECT_TRUE(folder.Log().empty());
}
