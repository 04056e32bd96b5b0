// The tray window's decisions: which clicks start the menu timer, which run the logon, and
// that nothing of ours runs while a command's dialog is open.
#include "agent/TrayLogic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class FakeTrayHost final : public TrayHost {
public:
    explicit FakeTrayHost(TrayWindowLogic& logic) : m_logic(logic) {}

    void StartMenuTimer(unsigned delayMs) override { calls.push_back("timer " + std::to_string(delayMs)); }
    void StopMenuTimer() override { calls.push_back("kill timer"); }
    unsigned DoubleClickTime() override { return 437; }
    void ShowTrayMenu() override { calls.push_back("menu"); }
    void SendCommandToSelf(TrayCommand command) override
    {
        calls.push_back("send " + std::to_string(static_cast<unsigned>(command)));
        sentReply = m_logic.HandleMessage(*this, kMsgCommand, static_cast<unsigned>(command), 0);
    }
    void RunCommand(TrayCommand command) override
    {
        calls.push_back("run " + std::to_string(static_cast<unsigned>(command)));
        if (whileServing)
            whileServing();
    }
    void PostQuit() override { calls.push_back("quit"); }

    std::vector<std::string> calls;
    std::function<void()> whileServing;
    TrayReply sentReply = TrayReply::DefaultProcessing;

private:
    TrayWindowLogic& m_logic;
};

struct TrayFixture : ::testing::Test {
    TrayReply Click(unsigned mouseMessage)
    {
        return logic.HandleMessage(host, kTrayCallbackMessage, kTrayIconId, static_cast<std::intptr_t>(mouseMessage));
    }

    TrayWindowLogic logic;
    FakeTrayHost host{logic};
};

} // namespace

TEST_F(TrayFixture, LeftClickWaitsTheDoubleClickTimeAndRightClickFiftyMilliseconds)
{
    EXPECT_EQ(TrayReply::DefaultProcessing, Click(kMsgLeftButtonDown));
    EXPECT_EQ(TrayReply::DefaultProcessing, Click(kMsgRightButtonDown));
    EXPECT_THAT(host.calls, ElementsAre("timer 437", "timer 50"));
}

TEST_F(TrayFixture, DoubleClickKillsThePendingMenuAndRunsTheLogonThroughACommand)
{
    Click(kMsgLeftButtonDown);
    EXPECT_EQ(TrayReply::DefaultProcessing, Click(kMsgLeftButtonDoubleClick));
    EXPECT_THAT(host.calls, ElementsAre("timer 437", "kill timer", "send 1025", "run 1025"));
    EXPECT_EQ(TrayReply::Handled, host.sentReply);
    EXPECT_FALSE(logic.InCommand());
}

TEST_F(TrayFixture, OtherMouseMessagesAndTheHighWordOfTheCallbackAreIgnored)
{
    Click(0x0200); // mouse move
    Click(0x0202); // left button up
    Click(0x0205); // right button up
    EXPECT_THAT(host.calls, IsEmpty());
    // The mouse message is the low part only; a version-4 style high word must not hide it.
    logic.HandleMessage(host, kTrayCallbackMessage, kTrayIconId,
                        static_cast<std::intptr_t>(0x00800000 | kMsgRightButtonDown));
    EXPECT_THAT(host.calls, ElementsAre("timer 50"));
}

TEST_F(TrayFixture, MenuTimerIsKilledBeforeTheMenuShowsAndOtherTimersAreLeftAlone)
{
    EXPECT_EQ(TrayReply::DefaultProcessing, logic.HandleMessage(host, kMsgTimer, 6, 0));
    EXPECT_THAT(host.calls, IsEmpty());
    EXPECT_EQ(TrayReply::DefaultProcessing, logic.HandleMessage(host, kMsgTimer, kMenuTimerId, 0));
    EXPECT_THAT(host.calls, ElementsAre("kill timer", "menu"));
}

TEST_F(TrayFixture, EachMenuCommandIsServedAndAnsweredWithoutDefaultProcessing)
{
    for (unsigned command = 1025; command <= 1029; ++command)
        EXPECT_EQ(TrayReply::Handled, logic.HandleMessage(host, kMsgCommand, command, 0));
    EXPECT_THAT(host.calls, ElementsAre("run 1025", "run 1026", "run 1027", "run 1028", "run 1029"));
}

TEST_F(TrayFixture, CommandsOutsideTheMenuOrWithANotificationCodeServeNothing)
{
    const std::uintptr_t notified = (std::uintptr_t{1} << 16) | 1025;
    for (std::uintptr_t value : {std::uintptr_t{0}, std::uintptr_t{1024}, std::uintptr_t{1030}, notified})
        EXPECT_EQ(TrayReply::Handled, logic.HandleMessage(host, kMsgCommand, value, 0));
    EXPECT_THAT(host.calls, IsEmpty());
    EXPECT_FALSE(logic.InCommand());
}

TEST_F(TrayFixture, WhileADialogIsOpenClicksTimersAndCommandsOnlyGetDefaultProcessing)
{
    std::vector<TrayReply> nestedReplies;
    host.whileServing = [&] {
        EXPECT_TRUE(logic.InCommand());
        nestedReplies.push_back(Click(kMsgLeftButtonDoubleClick));
        nestedReplies.push_back(Click(kMsgRightButtonDown));
        nestedReplies.push_back(logic.HandleMessage(host, kMsgTimer, kMenuTimerId, 0));
        nestedReplies.push_back(logic.HandleMessage(host, kMsgCommand, 1026, 0));
    };
    logic.HandleMessage(host, kMsgCommand, 1027, 0);

    EXPECT_THAT(host.calls, ElementsAre("run 1027"));
    EXPECT_THAT(nestedReplies, ElementsAre(TrayReply::DefaultProcessing, TrayReply::DefaultProcessing,
                                           TrayReply::DefaultProcessing, TrayReply::DefaultProcessing));
    // The guard is lifted afterwards: the icon answers again.
    host.whileServing = nullptr;
    Click(kMsgRightButtonDown);
    EXPECT_THAT(host.calls, ElementsAre("run 1027", "timer 50"));
}

TEST_F(TrayFixture, ACommandThatFailsHalfWayDoesNotLeaveTheIconDead)
{
    host.whileServing = [] { throw std::bad_alloc(); };
    EXPECT_THROW(logic.HandleMessage(host, kMsgCommand, 1025, 0), std::bad_alloc);
    EXPECT_FALSE(logic.InCommand());
    host.whileServing = nullptr;
    Click(kMsgRightButtonDown);
    EXPECT_THAT(host.calls, ElementsAre("run 1025", "timer 50"));
}

TEST_F(TrayFixture, CloseEndsTheAgentAlsoWhileADialogIsOpen)
{
    EXPECT_EQ(TrayReply::DefaultProcessing, logic.HandleMessage(host, kMsgClose, 0, 0));
    host.whileServing = [&] { EXPECT_EQ(TrayReply::DefaultProcessing, logic.HandleMessage(host, kMsgClose, 0, 0)); };
    logic.HandleMessage(host, kMsgCommand, 1025, 0);
    EXPECT_THAT(host.calls, ElementsAre("quit", "run 1025", "quit"));
}

TEST(TrayTip, FitsTheShellFieldWithItsTerminatorAndClearsTheRest)
{
    std::array<char, 64> field;
    field.fill('x');
    CopyTrayTip("Entravo", field);
    EXPECT_STREQ("Entravo", field.data());
    EXPECT_EQ('\0', field[63]);

    const std::string longTip(200, 'T');
    CopyTrayTip(longTip, field);
    EXPECT_EQ(std::string(63, 'T'), std::string(field.data()));

    std::array<char, 64> exact;
    CopyTrayTip(std::string(63, 'E'), exact);
    EXPECT_EQ(63u, std::string(exact.data()).size());

    CopyTrayTip("", field);
    EXPECT_STREQ("", field.data());
    // An empty field is left alone: not even a terminator lands in the bytes around it.
    std::array<char, 2> around{'x', 'x'};
    CopyTrayTip("anything", std::span<char>(around.data() + 1, 0));
    EXPECT_EQ((std::array<char, 2>{'x', 'x'}), around);
}
