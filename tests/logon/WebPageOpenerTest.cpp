// The opener against the real shell and registry of a throwaway prefix, with testbrowser.exe
// (tests/support/testbrowser) registered as the browser. Every case sets the associations it
// needs; the prefix is discarded after the program ends. Associations are written to the
// classes root itself: Wine's shell and its classes root do not see per-user classes.
#include "logon/WebPageOpener.h"
#include "tests/support/uidriver/ClassesRoot.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/Wait.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using uidriver::CreateClassesRootKey;
using uidriver::DeleteClassesRootTree;
using uidriver::SetClassesRootDefault;

constexpr char kBrowserName[] = "testbrowser.exe";
constexpr char kDocumentClass[] = "EntravoTest.HtmlDocument";
constexpr std::chrono::milliseconds kWait{20000};

bool WaitUntil(const std::function<bool()>& condition)
{
    return uidriver::WaitFor(condition, kWait);
}

int RunningBrowsers()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, kBrowserName) == 0)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

class WebPageOpener : public testing::Test {
protected:
    void SetUp() override
    {
        // A folder with blanks in its name, as under "Program Files", so the registered
        // commands need their quotes.
        std::string temp(MAX_PATH, '\0');
        temp.resize(GetTempPathA(static_cast<DWORD>(temp.size()), temp.data()));
        m_folder = temp + "web page opener " + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(m_folder.c_str(), nullptr);
        m_browser = m_folder + kBrowserName;
        ASSERT_TRUE(CopyFileA((uidriver::OwnFolder() + kBrowserName).c_str(), m_browser.c_str(), FALSE))
            << "testbrowser.exe must sit beside the test program";
        m_log = m_folder + "browser.log";
        DeleteFileA(m_log.c_str());
        SetEnvironmentVariableA("ENTRAVO_TEST_BROWSER_LOG", m_log.c_str());
        ASSERT_EQ(0, RunningBrowsers());
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitUntil([] { return RunningBrowsers() == 0; })) << "a started browser did not finish";
        DeleteClassesRootTree(".htm");
        DeleteClassesRootTree(kDocumentClass);
        DeleteFileA(m_log.c_str());
        DeleteFileA(m_browser.c_str());
        RemoveDirectoryA(m_folder.c_str());
    }

    std::string QuotedBrowser() const { return "\"" + m_browser + "\""; }

    void RegisterBrowserForProtocols() const
    {
        for (const char* scheme : {"http", "https"})
            SetClassesRootDefault(std::string(scheme) + "\\shell\\open\\command", QuotedBrowser() + " \"%1\"");
    }

    // With no protocol handler the shell cannot open a web address at all.
    static void RemoveProtocolHandlers()
    {
        DeleteClassesRootTree("http");
        DeleteClassesRootTree("https");
    }

    static void RegisterHtmBrowser(const std::string& command)
    {
        SetClassesRootDefault(".htm", kDocumentClass);
        SetClassesRootDefault(std::string(kDocumentClass) + "\\shell\\open\\command", command);
    }

    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(m_log, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // The lines once `count` browsers have written theirs and every browser has exited.
    std::vector<std::string> WaitForLogLines(size_t count) const
    {
        EXPECT_TRUE(WaitUntil([&] { return LogLines().size() >= count && RunningBrowsers() == 0; }))
            << "expected " << count << " browser start(s)";
        return LogLines();
    }

    // Browsers are started before the opener returns: one that ran has logged or still runs.
    void ExpectNothingStarted() const
    {
        EXPECT_EQ(0, RunningBrowsers());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_log.c_str()));
    }

    std::string m_folder;
    std::string m_browser;
    std::string m_log;
};

const std::string kUrl = "http://logon.example/cgi-bin/login.cgi?Authenticate=0123456789ABCDEF";

TEST_F(WebPageOpener, ShellHandsTheUrlToTheRegisteredProtocolBrowser)
{
    RegisterBrowserForProtocols();
    const std::string secure = "https://logon.example/cgi-bin/login.cgi?Authenticate=FEDCBA9876543210";

    // One at a time: two browsers started together may log in either order.
    EXPECT_GT(OpenWebPage(kUrl, SW_SHOW), 32u);
    WaitForLogLines(1);
    EXPECT_GT(OpenWebPage(secure, SW_SHOW), 32u);

    const auto lines = WaitForLogLines(2);
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(kUrl)) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(secure)) << lines[1];
}

TEST_F(WebPageOpener, RefusedShellFallsBackToTheHtmOpenCommand)
{
    RemoveProtocolHandlers();
    RegisterHtmBrowser(QuotedBrowser() + " \"%1\"");

    EXPECT_GT(OpenWebPage(kUrl, SW_SHOW), 32u);

    EXPECT_EQ(std::vector<std::string>{QuotedBrowser() + "  " + kUrl}, WaitForLogLines(1));
}

TEST_F(WebPageOpener, FallbackDropsOptionsAfterABarePlaceholderAndAddsNoQuotes)
{
    RemoveProtocolHandlers();
    RegisterHtmBrowser(QuotedBrowser() + " -new %1 -remote");
    const std::string url = "http://logon.example/a page?x=1 2";

    EXPECT_GT(OpenWebPage(url, SW_SHOW), 32u);

    EXPECT_EQ(std::vector<std::string>{QuotedBrowser() + " -new  " + url}, WaitForLogLines(1));
}

TEST_F(WebPageOpener, FallbackBuildsACommandLineLongerThan519Characters)
{
    RemoveProtocolHandlers();
    RegisterHtmBrowser(QuotedBrowser() + " \"%1\"");
    // Long, yet short enough for the shell of the test prefix (see the next case).
    const std::string url = "http://logon.example/cgi-bin/login.cgi?Authenticate=" + std::string(800, 'A');

    EXPECT_GT(OpenWebPage(url, SW_SHOW), 32u);

    EXPECT_EQ(std::vector<std::string>{QuotedBrowser() + "  " + url}, WaitForLogLines(1));
}

// Wine's shell overruns a buffer of its own on file names of about a thousand characters and
// more, so the shell's refusal is stood in for here; the registry look-ups and the program
// start are the system's.
class ShellRefusingPlatform final : public Win32WebPagePlatform {
public:
    unsigned ShellOpen(const std::string&, int) override { return SE_ERR_NOASSOC; }
};

TEST_F(WebPageOpener, FallbackStartsA4000CharacterUrlWhole)
{
    RegisterHtmBrowser(QuotedBrowser() + " \"%1\"");
    const std::string url = "http://logon.example/cgi-bin/login.cgi?Authenticate=" + std::string(4000, 'A');
    ShellRefusingPlatform platform;

    EXPECT_GT(OpenWebPageOn(platform, url, SW_SHOW), 32u);

    EXPECT_EQ(std::vector<std::string>{QuotedBrowser() + "  " + url}, WaitForLogLines(1));
}

TEST_F(WebPageOpener, WithoutHtmKeyTheShellFailureComesBackAndNothingStarts)
{
    RemoveProtocolHandlers();
    DeleteClassesRootTree(".htm");

    const unsigned result = OpenWebPage(kUrl, SW_SHOW);

    EXPECT_LE(result, 32u);
    EXPECT_EQ(static_cast<unsigned>(SE_ERR_NOASSOC), result);
    ExpectNothingStarted();
}

TEST_F(WebPageOpener, ClassWithoutOpenCommandGivesTheShellFailureAndNothingStarts)
{
    RemoveProtocolHandlers();
    SetClassesRootDefault(".htm", kDocumentClass);
    CreateClassesRootKey(std::string(kDocumentClass) + "\\shell\\open");

    EXPECT_EQ(static_cast<unsigned>(SE_ERR_NOASSOC), OpenWebPage(kUrl, SW_SHOW));
    ExpectNothingStarted();

    // A document class that names no key at all fails the same way.
    SetClassesRootDefault(".htm", "EntravoTest.NoSuchClass");
    EXPECT_EQ(static_cast<unsigned>(SE_ERR_NOASSOC), OpenWebPage(kUrl, SW_SHOW));
    ExpectNothingStarted();
}

TEST_F(WebPageOpener, FailedProgramStartIsReturned)
{
    RemoveProtocolHandlers();
    RegisterHtmBrowser("\"" + m_folder + "missing.exe\" \"%1\"");

    EXPECT_EQ(static_cast<unsigned>(ERROR_FILE_NOT_FOUND), OpenWebPage(kUrl, SW_SHOW));
    ExpectNothingStarted();
}

} // namespace
