// The portable half of the UI test driver: bounded polls, the environment handed to started
// programs, command lines, and reading the logon URL a browser received.
#include "tests/support/uidriver/CommandLine.h"
#include "tests/support/uidriver/EnvironmentBlock.h"
#include "tests/support/uidriver/LogonUrl.h"
#include "tests/support/uidriver/RecordedLines.h"
#include "tests/support/uidriver/Wait.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace uidriver;
using namespace std::chrono_literals;

namespace {

class FakePollClock final : public PollClock {
public:
    std::chrono::steady_clock::time_point Now() override { return m_now; }
    void Pause(Milliseconds interval) override
    {
        pauses.push_back(interval);
        m_now += interval;
    }
    Milliseconds Elapsed() const { return std::chrono::duration_cast<Milliseconds>(m_now - m_start); }

    std::vector<Milliseconds> pauses;

private:
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_now{};
};

} // namespace

TEST(BoundedPoll, ConditionAlreadyTrueReturnsWithoutPausing)
{
    FakePollClock clock;
    EXPECT_TRUE(WaitFor([] { return true; }, 1000ms, 10ms, clock));
    EXPECT_TRUE(clock.pauses.empty());
}

TEST(BoundedPoll, GivesUpAtTheDeadlineWithTheLastPauseCutShort)
{
    FakePollClock clock;
    int looks = 0;
    EXPECT_FALSE(WaitFor([&] { return ++looks, false; }, 25ms, 10ms, clock));
    EXPECT_EQ(25ms, clock.Elapsed());
    EXPECT_EQ((std::vector<Milliseconds>{10ms, 10ms, 5ms}), clock.pauses);
    EXPECT_EQ(4, looks) << "the condition is asked once more at the deadline";
}

TEST(BoundedPoll, ConditionThatTurnsTrueAtTheDeadlineCounts)
{
    FakePollClock clock;
    EXPECT_TRUE(WaitFor([&] { return clock.Elapsed() >= 30ms; }, 30ms, 10ms, clock));
}

TEST(BoundedPoll, HoldsForStopsAtTheFirstLookWhereTheConditionFails)
{
    FakePollClock clock;
    EXPECT_FALSE(HoldsFor([&] { return clock.Elapsed() < 20ms; }, 1000ms, 10ms, clock));
    EXPECT_EQ(20ms, clock.Elapsed());
    FakePollClock quiet;
    EXPECT_TRUE(HoldsFor([] { return true; }, 50ms, 10ms, quiet));
    EXPECT_EQ(50ms, quiet.Elapsed());
}

TEST(EnvironmentBlock, ChangesReplaceNamesWhateverTheirCaseAndTheLastChangeWins)
{
    const auto block =
        BuildEnvironmentBlock({"Path=C:\\windows", "TEMP=C:\\temp", "wineprefix=/p"},
                              {{"PATH", "C:\\agent"}, {"Extra", "1"}, {"extra", "2"}, {"TEMP", std::nullopt}});
    EXPECT_EQ((std::vector<std::string>{"extra=2", "PATH=C:\\agent", "wineprefix=/p"}), SplitEnvironmentBlock(block));
}

TEST(EnvironmentBlock, SortedWithoutRegardToCaseDriveEntriesFirstAndDoublyTerminated)
{
    const auto block = BuildEnvironmentBlock({"b=2", "A=1", "=C:=C:\\work", "_x=3"}, {});
    EXPECT_EQ(std::string("=C:=C:\\work\0A=1\0b=2\0_x=3\0\0", 26), block);
}

TEST(EnvironmentBlock, EmptyEnvironmentIsTwoNuls)
{
    EXPECT_EQ(std::string("\0\0", 2), BuildEnvironmentBlock({}, {}));
    EXPECT_EQ(std::string("\0\0", 2), BuildEnvironmentBlock({"ONLY=1"}, {{"only", std::nullopt}}));
    EXPECT_TRUE(SplitEnvironmentBlock(std::string("\0\0", 2)).empty());
}

TEST(CommandLine, ArgumentsAreQuotedOnlyWhenTheyNeedIt)
{
    EXPECT_EQ("plain", QuoteArgument("plain"));
    EXPECT_EQ("C:\\dir\\", QuoteArgument("C:\\dir\\"));
    EXPECT_EQ("\"two words\"", QuoteArgument("two words"));
    EXPECT_EQ("\"\"", QuoteArgument(""));
    EXPECT_EQ("\"say \\\"hi\\\"\"", QuoteArgument("say \"hi\""));
    EXPECT_EQ("\"C:\\a dir\\\\\"", QuoteArgument("C:\\a dir\\")) << "a trailing backslash must not eat the quote";
    EXPECT_EQ("\"a\\\\\\\"b\"", QuoteArgument("a\\\"b"));
}

TEST(CommandLine, WhatIsBuiltSplitsBackExactly)
{
    const std::vector<std::string> arguments = {"",
                                                "x",
                                                "two words",
                                                "tab\there",
                                                "quote\"inside",
                                                "back\\slash",
                                                "ends\\",
                                                "ends with blank\\",
                                                "\\\\server\\share",
                                                "\\\"",
                                                "http://logon.example.com/cgi-bin/login.cgi?Authenticate=0A1B"};
    const auto words = SplitCommandLine(BuildCommandLine("C:\\Program Files\\agent.exe", arguments));
    ASSERT_EQ(arguments.size() + 1, words.size());
    EXPECT_EQ("C:\\Program Files\\agent.exe", words[0]);
    for (std::size_t i = 0; i < arguments.size(); ++i)
        EXPECT_EQ(arguments[i], words[i + 1]) << "argument " << i;
}

TEST(CommandLine, ProgramNameTakesBackslashesLiterallyAndArgumentsFollowTheRunTimeRules)
{
    EXPECT_EQ((std::vector<std::string>{"C:\\b\\", "x"}), SplitCommandLine("\"C:\\b\\\" x"));
    EXPECT_EQ((std::vector<std::string>{"p", "a\"b", "c d"}), SplitCommandLine("p \"a\"\"b\" \"c d\""));
    EXPECT_EQ((std::vector<std::string>{"p", "\\\\", "x"}), SplitCommandLine("  p   \\\\   x  "));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(LogonUrl, AuthenticatorIsExactlySixtyFourUpperHexCharactersAfterTheAccessUrl)
{
    const std::string access = "http://logon.example.com/cgi-bin/login.cgi?Authenticate=";
    const std::string code(64, 'A');
    EXPECT_EQ(code, AuthenticatorIn(access + code, access));
    EXPECT_FALSE(AuthenticatorIn(access + code.substr(1), access)) << "63 characters";
    EXPECT_FALSE(AuthenticatorIn(access + code + "0", access)) << "65 characters";
    EXPECT_FALSE(AuthenticatorIn(access + std::string(64, 'a'), access)) << "lower case";
    EXPECT_FALSE(AuthenticatorIn(access + "&" + code.substr(1), access)) << "a separator";
    EXPECT_FALSE(AuthenticatorIn("https" + access.substr(4) + code, access)) << "another access URL";
}

TEST(LogonUrl, BrowserCommandLineCarriesExactlyOneUrl)
{
    EXPECT_EQ("http://h/p?a=1", UrlFromBrowserCommandLine("\"C:\\tests\\testbrowser.exe\" \"http://h/p?a=1\""));
    EXPECT_EQ("http://h/p?a=1", UrlFromBrowserCommandLine("C:\\tests\\testbrowser.exe http://h/p?a=1"));
    EXPECT_FALSE(UrlFromBrowserCommandLine("C:\\tests\\testbrowser.exe"));
    EXPECT_FALSE(UrlFromBrowserCommandLine("C:\\tests\\testbrowser.exe -nohome http://h/"));
}

TEST(RecordedLines, AStartGivesItsTimeItsFolderAndTheWholeCommandLine)
{
    const auto start = ParseRecordedStart("133512345678901234\tC:\\agent\\\t\"lampup.exe\" a\tb");
    ASSERT_TRUE(start);
    EXPECT_EQ(133512345678901234u, start->createdAt);
    EXPECT_EQ("C:\\agent\\", start->folder);
    EXPECT_EQ("\"lampup.exe\" a\tb", start->commandLine) << "tabs after the second belong to the command line";
    EXPECT_FALSE(ParseRecordedStart("133512345678901234\tonly one tab"));
    EXPECT_FALSE(ParseRecordedStart(""));
}

TEST(RecordedLines, LinesComeWithoutTheirEndsOfEitherKindAndAMissingFileHasNone)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "uidriver-recorded-lines.txt";
    std::ofstream(file, std::ios::binary) << "a\r\nb\n\nc";
    EXPECT_EQ((std::vector<std::string>{"a", "b", "", "c"}), ReadLines(file.string()));
    std::filesystem::remove(file);
    EXPECT_TRUE(ReadLines(file.string()).empty());
}
