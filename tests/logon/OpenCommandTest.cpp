#include "logon/OpenCommand.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

const std::string kUrl = "http://logon.example/cgi-bin/login.cgi?Authenticate=0123456789ABCDEF";

// A double-byte code page in the manner of the East Asian ones: 0x81-0xFE lead. Unlike the real
// ones it lets a quote follow a lead byte, which is how the pair `"%` can hide inside a character.
bool DoubleByteLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

TEST(OpenCommandLine, QuotedPlaceholderKeepsItsBlankAndAddsOne)
{
    EXPECT_EQ("C:\\Browser\\browse.exe -nohome  " + kUrl,
              BuildOpenCommandLine("C:\\Browser\\browse.exe -nohome \"%1\"", kUrl));
    EXPECT_EQ("\"C:\\Program Files\\Browser\\browse.exe\"  " + kUrl,
              BuildOpenCommandLine("\"C:\\Program Files\\Browser\\browse.exe\" \"%1\"", kUrl));
}

TEST(OpenCommandLine, BarePlaceholderDropsTheOptionsAfterIt)
{
    EXPECT_EQ("browse.exe  " + kUrl, BuildOpenCommandLine("browse.exe %1 -new-window -remote", kUrl));
    EXPECT_EQ("browse.exe -a  " + kUrl, BuildOpenCommandLine("browse.exe -a %1%2 \"x\"", kUrl));
}

TEST(OpenCommandLine, QuotedPlaceholderDropsEverythingAfterItToo)
{
    EXPECT_EQ("browse.exe  " + kUrl, BuildOpenCommandLine("browse.exe \"%1\" -new-window %1", kUrl));
}

TEST(OpenCommandLine, WithoutPlaceholderTheWholeCommandStays)
{
    EXPECT_EQ("browse.exe -nohome " + kUrl, BuildOpenCommandLine("browse.exe -nohome", kUrl));
    // A percent sign on its own or with another digit is no placeholder.
    EXPECT_EQ("browse.exe 100% %2 " + kUrl, BuildOpenCommandLine("browse.exe 100% %2", kUrl));
    EXPECT_EQ("browse.exe \"% " + kUrl, BuildOpenCommandLine("browse.exe \"%", kUrl));
}

TEST(OpenCommandLine, QuotedPlaceholderWinsOverAnEarlierBareOne)
{
    EXPECT_EQ("browse.exe %1 -x  " + kUrl, BuildOpenCommandLine("browse.exe %1 -x \"%1\" -y", kUrl));
}

TEST(OpenCommandLine, BarePlaceholderInsideAnUnclosedQuoteIsCutAtThePercent)
{
    EXPECT_EQ("browse.exe \" " + kUrl, BuildOpenCommandLine("browse.exe \"%1", kUrl));
}

TEST(OpenCommandLine, EmptyCommandGivesOneBlankAndTheUrl)
{
    EXPECT_EQ(" " + kUrl, BuildOpenCommandLine("", kUrl));
    EXPECT_EQ(" ", BuildOpenCommandLine("", ""));
}

TEST(OpenCommandLine, UrlIsAppendedUnquotedAndUnchanged)
{
    EXPECT_EQ("browse.exe  http://a.example/x y?q=\"%1\" z",
              BuildOpenCommandLine("browse.exe \"%1\"", "http://a.example/x y?q=\"%1\" z"));
}

TEST(OpenCommandLine, QuoteInsideADoubleByteCharacterIsNoPlaceholder)
{
    // Bytes: 'b' 0x81 '"' '%' '1' '"'. Read by characters, 0x81 '"' is one character, so the
    // quoted placeholder is absent and the bare %1 after it is where the cut falls.
    const std::string command = "b\x81\"%1\" -x";
    EXPECT_EQ("b\x81\" " + kUrl, BuildOpenCommandLine(command, kUrl, DoubleByteLead));
    // The same bytes in a single-byte code page do hold a quoted placeholder.
    EXPECT_EQ("b\x81 " + kUrl, BuildOpenCommandLine(command, kUrl));
}

TEST(OpenCommandLine, QuotedPlaceholderAfterDoubleByteTextIsFound)
{
    // A disguised placeholder first, a real one later: the real one is the cut.
    const std::string command = "\x81\"%1\" \x95\x5C\"%1\" -x";
    EXPECT_EQ("\x81\"%1\" \x95\x5C " + kUrl, BuildOpenCommandLine(command, kUrl, DoubleByteLead));
}

TEST(OpenCommandLine, LeadByteAtTheEndIsSteppedOverSafely)
{
    EXPECT_EQ("browse.exe \x81 " + kUrl, BuildOpenCommandLine("browse.exe \x81", kUrl, DoubleByteLead));
    EXPECT_EQ("\x81 " + kUrl, BuildOpenCommandLine("\x81", kUrl, DoubleByteLead));
}

TEST(OpenCommandLine, LongUrlAfterLongCommandIsBuiltWhole)
{
    const std::string program = "C:\\" + std::string(300, 'p') + "\\browse.exe";
    const std::string url = "http://logon.example/?Authenticate=" + std::string(4000, 'A');
    const std::string line = BuildOpenCommandLine(program + " \"%1\"", url);
    ASSERT_EQ(program.size() + 2 + url.size(), line.size());
    EXPECT_EQ(program + "  " + url, line);
}

// Records what the opener asked for and answers from a table of class-root keys.
class FakeWebPagePlatform final : public WebPagePlatform {
public:
    unsigned shellResult = 2;
    bool startRunsOutOfMemory = false;
    unsigned startResult = 33;
    std::vector<std::pair<std::string, std::string>> classesRoot; // key path, default value
    bool doubleByteCodePage = false;

    std::vector<std::string> shellUrls;
    std::vector<std::string> queriedKeys;
    std::vector<std::string> startedLines;
    std::vector<int> showCommands;

    unsigned ShellOpen(const std::string& url, int showCommand) override
    {
        shellUrls.push_back(url);
        showCommands.push_back(showCommand);
        return shellResult;
    }

    long QueryClassesRootDefault(const std::string& subKey, std::string& out) override
    {
        queriedKeys.push_back(subKey);
        for (const auto& [path, value] : classesRoot) {
            if (path == subKey) {
                out = value;
                return 0;
            }
        }
        return 2; // file not found
    }

    ansi::LeadBytePredicate LeadBytes() const override
    {
        return doubleByteCodePage ? &DoubleByteLead : &ansi::NoLeadBytes;
    }

    unsigned StartProgram(const std::string& commandLine, int showCommand) override
    {
        if (startRunsOutOfMemory)
            throw std::bad_alloc();
        startedLines.push_back(commandLine);
        showCommands.push_back(showCommand);
        return startResult;
    }
};

constexpr int kShow = 5;

FakeWebPagePlatform PlatformWithHtmBrowser()
{
    FakeWebPagePlatform platform;
    platform.classesRoot = {{".htm", "htmlfile"}, {"htmlfile\\shell\\open\\command", "browse.exe \"%1\""}};
    return platform;
}

TEST(OpenWebPageSequence, ShellSuccessIsReturnedWithoutLookingFurther)
{
    FakeWebPagePlatform platform = PlatformWithHtmBrowser();
    platform.shellResult = 33;
    EXPECT_EQ(33u, OpenWebPageOn(platform, kUrl, kShow));
    EXPECT_EQ(std::vector<std::string>{kUrl}, platform.shellUrls);
    EXPECT_TRUE(platform.queriedKeys.empty());
    EXPECT_TRUE(platform.startedLines.empty());
}

TEST(OpenWebPageSequence, ShellResultOfExactly32FallsBackToTheHtmBrowser)
{
    FakeWebPagePlatform platform = PlatformWithHtmBrowser();
    platform.shellResult = 32;
    platform.startResult = 42;
    EXPECT_EQ(42u, OpenWebPageOn(platform, kUrl, kShow));
    EXPECT_EQ((std::vector<std::string>{".htm", "htmlfile\\shell\\open\\command"}), platform.queriedKeys);
    EXPECT_EQ(std::vector<std::string>{"browse.exe  " + kUrl}, platform.startedLines);
    EXPECT_EQ((std::vector<int>{kShow, kShow}), platform.showCommands);
}

TEST(OpenWebPageSequence, NoHtmKeyReturnsTheShellCodeAndStartsNothing)
{
    FakeWebPagePlatform platform;
    platform.shellResult = 31;
    EXPECT_EQ(31u, OpenWebPageOn(platform, kUrl, kShow));
    EXPECT_EQ(std::vector<std::string>{".htm"}, platform.queriedKeys);
    EXPECT_TRUE(platform.startedLines.empty());
}

TEST(OpenWebPageSequence, ClassWithoutOpenCommandReturnsTheShellCodeAndStartsNothing)
{
    FakeWebPagePlatform platform;
    platform.shellResult = 27;
    platform.classesRoot = {{".htm", "htmlfile"}, {"htmlfile\\shell\\open", ""}};
    EXPECT_EQ(27u, OpenWebPageOn(platform, kUrl, kShow));
    EXPECT_EQ(2u, platform.queriedKeys.size());
    EXPECT_TRUE(platform.startedLines.empty());
}

TEST(OpenWebPageSequence, FailedProgramStartIsReturnedAsItCame)
{
    for (unsigned code : {0u, 2u, 3u, 11u}) {
        FakeWebPagePlatform platform = PlatformWithHtmBrowser();
        platform.shellResult = 31;
        platform.startResult = code;
        EXPECT_EQ(code, OpenWebPageOn(platform, kUrl, kShow));
    }
}

TEST(OpenWebPageSequence, RunningOutOfMemoryGivesTheOutOfMemoryCode)
{
    FakeWebPagePlatform platform = PlatformWithHtmBrowser();
    platform.startRunsOutOfMemory = true;
    EXPECT_EQ(0u, OpenWebPageOn(platform, kUrl, kShow));
}

TEST(OpenWebPageSequence, CutFollowsThePlatformCodePage)
{
    FakeWebPagePlatform platform;
    platform.classesRoot = {{".htm", "htmlfile"}, {"htmlfile\\shell\\open\\command", "b\x81\"%1\""}};
    platform.doubleByteCodePage = true;
    OpenWebPageOn(platform, kUrl, kShow);
    EXPECT_EQ(std::vector<std::string>{"b\x81\" " + kUrl}, platform.startedLines);
}

} // namespace
