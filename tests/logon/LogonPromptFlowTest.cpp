// The logon prompt's OK: the choice is stored first, the scan decides the outcome, and only a
// single token leads to the indicator and the logon page.
#include "logon/LogonFlow.h"
#include "tests/support/profile/InMemoryProfileBackend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;

class FakeLogonActions final : public LogonActions {
public:
    explicit FakeLogonActions(ProfileStore& profile) : m_profile(profile) {}

    int ScanPorts(RomRecord& record) override
    {
        calls.push_back("scan, skip stored " + std::to_string(m_profile.GetSkipPrompt()));
        if (scanResult == 1)
            record = found;
        return scanResult;
    }
    void ShowManyTokensDialog() override { calls.push_back("many"); }
    void ShowNoTokenDialog() override { calls.push_back("none"); }
    void StartIndicatorProgram() override { calls.push_back("lampup"); }
    std::string EncodeAuthenticator(const RomRecord& record) override
    {
        calls.push_back("encode " + std::to_string(record.cells[0]) + "," + std::to_string(record.cells[7]));
        return std::string(64, 'A');
    }
    void OpenWebPage(const std::string& url) override { calls.push_back("open " + url); }

    int scanResult = 1;
    RomRecord found{{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}};
    std::vector<std::string> calls;

private:
    ProfileStore& m_profile;
};

struct LogonPromptFlow : ::testing::Test {
    InMemoryProfileBackend backend;
    ProfileStore profile{backend};
    FakeLogonActions actions{profile};
    const std::string defaultUrl = ProfileStore::DefaultAccessUrl();
};

} // namespace

TEST_F(LogonPromptFlow, OneTokenWithUsbSelectedStartsTheIndicatorThenOpensUrlPlusAuthenticator)
{
    EXPECT_EQ(LogonOkResult::CloseWithOk, RunLogonOk(profile, actions, 1));
    EXPECT_THAT(actions.calls, ElementsAre("scan, skip stored 1", "lampup", "encode 1,199",
                                           "open " + defaultUrl + std::string(64, 'A')));
}

TEST_F(LogonPromptFlow, IndicatorIsStartedOnlyWhenTheUsbBitIsSet)
{
    profile.SetPortMask(0); // reads as 31: no USB
    RunLogonOk(profile, actions, 0);
    profile.SetPortMask(0x1F);
    RunLogonOk(profile, actions, 0);
    profile.SetPortMask(0x20);
    RunLogonOk(profile, actions, 0);
    EXPECT_EQ(1, std::count(actions.calls.begin(), actions.calls.end(), "lampup"));
}

TEST_F(LogonPromptFlow, NoTokenOrManyTokensShowTheirDialogAndKeepThePromptOpen)
{
    actions.scanResult = 0;
    EXPECT_EQ(LogonOkResult::StayOpen, RunLogonOk(profile, actions, 0));
    actions.scanResult = -1;
    EXPECT_EQ(LogonOkResult::StayOpen, RunLogonOk(profile, actions, 0));
    EXPECT_THAT(actions.calls, ElementsAre("scan, skip stored 0", "none", "scan, skip stored 0", "many"));
}

TEST_F(LogonPromptFlow, TheCheckBoxIsStoredOnEveryOkBeforeScanning)
{
    actions.scanResult = 0;
    RunLogonOk(profile, actions, 1);
    EXPECT_EQ(1, profile.GetSkipPrompt());
    RunLogonOk(profile, actions, 0); // unticked after the outcome dialog
    EXPECT_EQ(0, profile.GetSkipPrompt());
    EXPECT_THAT(actions.calls, ElementsAre("scan, skip stored 1", "none", "scan, skip stored 0", "none"));
}

TEST_F(LogonPromptFlow, UrlIsTheStoredTextFollowedDirectlyByTheAuthenticator)
{
    profile.SetAccessUrl("https://logon.example/x?a=b c&Authenticate=");
    RunLogonOk(profile, actions, 0);
    EXPECT_EQ("open https://logon.example/x?a=b c&Authenticate=" + std::string(64, 'A'), actions.calls.back());

    backend.Put("Options", "AccessUrl", std::string());
    RunLogonOk(profile, actions, 0);
    EXPECT_EQ("open " + std::string(64, 'A'), actions.calls.back());
}
