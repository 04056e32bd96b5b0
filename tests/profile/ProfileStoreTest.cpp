// The settings with their defaults, over a profile held in memory.
#include "profile/ProfileStore.h"
#include "tests/support/profile/InMemoryProfileBackend.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ProfileStoreTest : testing::Test {
    InMemoryProfileBackend backend;
    ProfileStore store{backend};
};

TEST_F(ProfileStoreTest, FreshProfileGivesDefaults)
{
    EXPECT_EQ(63u, store.GetPortMask());
    EXPECT_EQ(0, store.GetSkipPrompt());
    EXPECT_EQ(0, store.GetRegisteredWindow());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), store.GetAccessUrl());
}

TEST_F(ProfileStoreTest, FirstReadsCreateTheirSectionsButNoValues)
{
    store.GetPortMask();
    store.GetAccessUrl();
    store.GetRegisteredWindow();
    for (const char* section : {"Settings", "Options", "Register"}) {
        EXPECT_TRUE(backend.HasSection(section)) << section;
        EXPECT_EQ(0u, backend.ValueCount(section)) << section;
    }
}

TEST_F(ProfileStoreTest, StoredZeroPortMaskReadsAsAllButUsb)
{
    store.SetPortMask(0);
    EXPECT_EQ(31u, store.GetPortMask());
    EXPECT_EQ(InMemoryProfileBackend::Value{0u}, backend.Get("Settings", "ports"));
}

TEST_F(ProfileStoreTest, OtherPortMasksReadBackUnchanged)
{
    for (const int mask : {1, 32, 63, 127, -1}) {
        store.SetPortMask(mask);
        EXPECT_EQ(static_cast<unsigned>(mask), store.GetPortMask()) << mask;
    }
    backend.Put("Settings", "ports", 0xFFFFFFFFu);
    EXPECT_EQ(0xFFFFFFFFu, store.GetPortMask());
}

TEST_F(ProfileStoreTest, SettingsAreStoredUnderTheirSectionsAndEntries)
{
    store.SetSkipPrompt(1);
    store.SetAccessUrl("http://a.example/?k=");
    store.SetPortMask(5);
    store.SetRegisteredWindow(0x1234);
    EXPECT_EQ(InMemoryProfileBackend::Value{1u}, backend.Get("Options", "SkipAccessDialog"));
    EXPECT_EQ(InMemoryProfileBackend::Value{std::string("http://a.example/?k=")}, backend.Get("Options", "AccessUrl"));
    EXPECT_EQ(InMemoryProfileBackend::Value{5u}, backend.Get("Settings", "ports"));
    EXPECT_EQ(InMemoryProfileBackend::Value{0x1234u}, backend.Get("Register", "Window"));
    EXPECT_EQ(1, store.GetSkipPrompt());
    EXPECT_EQ(0x1234, store.GetRegisteredWindow());
}

TEST_F(ProfileStoreTest, EmptyAccessUrlStaysEmpty)
{
    store.SetAccessUrl("");
    EXPECT_EQ("", store.GetAccessUrl());
}

TEST_F(ProfileStoreTest, ValuesOfTheWrongKindReadAsDefaults)
{
    backend.Put("Settings", "ports", std::string("12"));
    backend.Put("Options", "AccessUrl", 7u);
    backend.Put("Options", "SkipAccessDialog", std::string("1"));
    backend.Put("Register", "Window", std::string("99"));
    EXPECT_EQ(63u, store.GetPortMask());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), store.GetAccessUrl());
    EXPECT_EQ(0, store.GetSkipPrompt());
    EXPECT_EQ(0, store.GetRegisteredWindow());
}

TEST_F(ProfileStoreTest, NamesMatchWithoutRegardToCaseLikeTheRegistry)
{
    backend.Put("SETTINGS", "Ports", 3u);
    EXPECT_EQ(3u, store.GetPortMask());
}

TEST_F(ProfileStoreTest, FailedWritesAreSilentAndLeaveTheOldValue)
{
    store.SetPortMask(9);
    backend.FailWrites();
    store.SetPortMask(12);
    store.SetAccessUrl("http://lost.example/");
    EXPECT_EQ(9u, store.GetPortMask());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), store.GetAccessUrl());
}

TEST_F(ProfileStoreTest, LongAccessUrlReadsWhole)
{
    const std::string url = "http://long.example/?q=" + std::string(100000, 'x');
    store.SetAccessUrl(url);
    EXPECT_EQ(url, store.GetAccessUrl());
}

} // namespace
