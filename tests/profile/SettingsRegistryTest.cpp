// The settings store on the real per-user registry of a throwaway Wine prefix. Each test
// uses a profile of its own.
#include "platform/Handle.h"
#include "profile/ProfileStore.h"
#include "profile/RegistryProfileBackend.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>

namespace {

std::string ProfilePath(const std::string& profile)
{
    return "Software\\Entravo\\" + profile;
}

scoped::RegKey OpenExisting(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    return scoped::RegKey(key);
}

struct KeyCounts {
    DWORD subKeys = 0;
    DWORD values = 0;
};

KeyCounts CountsOf(HKEY key)
{
    KeyCounts counts;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &counts.subKeys, nullptr, nullptr,
                                              &counts.values, nullptr, nullptr, nullptr, nullptr));
    return counts;
}

// Leaves a value as another program might have: any type, any bytes.
void PutRaw(const std::string& profile, const std::string& section, const char* entry, DWORD type, const void* data,
            DWORD size)
{
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (ProfilePath(profile) + "\\" + section).c_str(), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr));
    const scoped::RegKey key(raw);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.Get(), entry, 0, type, static_cast<const BYTE*>(data), size));
}

DWORD TypeOf(const std::string& profile, const std::string& section, const char* entry, DWORD* size = nullptr)
{
    const scoped::RegKey key = OpenExisting(ProfilePath(profile) + "\\" + section);
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    if (!key || RegQueryValueExA(key.Get(), entry, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return REG_NONE;
    if (size)
        *size = bytes;
    return type;
}

struct Profile {
    explicit Profile(std::string name) : name(std::move(name)) { backend.SetRegistryKey("Entravo"); }
    std::string name;
    RegistryProfileBackend backend{name};
    ProfileStore store{backend};
};

} // namespace

TEST(SettingsRegistry, FreshProfileGivesDefaultsAndLeavesEmptyKeysBehind)
{
    Profile profile("fresh");
    EXPECT_EQ(63u, profile.store.GetPortMask());
    EXPECT_EQ(0, profile.store.GetSkipPrompt());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), profile.store.GetAccessUrl());
    EXPECT_EQ(0, profile.store.GetRegisteredWindow());

    const scoped::RegKey profileKey = OpenExisting(ProfilePath("fresh"));
    ASSERT_TRUE(profileKey);
    EXPECT_EQ(3u, CountsOf(profileKey.Get()).subKeys);
    EXPECT_EQ(0u, CountsOf(profileKey.Get()).values);
    for (const char* section : {"Settings", "Options", "Register"}) {
        const scoped::RegKey key = OpenExisting(ProfilePath("fresh") + "\\" + section);
        ASSERT_TRUE(key) << section;
        EXPECT_EQ(0u, CountsOf(key.Get()).values) << section;
    }
}

TEST(SettingsRegistry, WithoutTheCompanyKeyNothingIsReadOrWritten)
{
    RegistryProfileBackend backend("early");
    ProfileStore store(backend);
    store.SetPortMask(5);
    store.SetAccessUrl("http://early.example/");
    EXPECT_EQ(63u, store.GetPortMask());
    EXPECT_FALSE(OpenExisting(ProfilePath("early")));

    backend.SetRegistryKey("Entravo");
    EXPECT_EQ(63u, store.GetPortMask());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), store.GetAccessUrl());
}

TEST(SettingsRegistry, WithoutAProfileNameNothingIsReadOrWrittenBesideOtherProfiles)
{
    Profile nameless("");
    nameless.store.SetPortMask(5);
    nameless.store.SetAccessUrl("http://nameless.example/");
    EXPECT_EQ(63u, nameless.store.GetPortMask());
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), nameless.store.GetAccessUrl());
    for (const char* section : {"Settings", "Options", "Register"})
        EXPECT_FALSE(OpenExisting(ProfilePath(section))) << section;
}

TEST(SettingsRegistry, IntegersAreDwordsAndStringsAreTerminatedText)
{
    Profile profile("kinds");
    profile.store.SetPortMask(0);
    EXPECT_EQ(31u, profile.store.GetPortMask());
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), TypeOf("kinds", "Settings", "ports"));
    for (const int mask : {1, 127, -1}) {
        profile.store.SetPortMask(mask);
        EXPECT_EQ(static_cast<unsigned>(mask), profile.store.GetPortMask());
    }

    profile.store.SetAccessUrl("");
    EXPECT_EQ("", profile.store.GetAccessUrl());
    DWORD size = 0;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), TypeOf("kinds", "Options", "AccessUrl", &size));
    EXPECT_EQ(1u, size);

    profile.store.SetAccessUrl("http://b.example/?a=");
    profile.store.SetSkipPrompt(1);
    profile.store.SetRegisteredWindow(0x2A0B4);
    EXPECT_EQ("http://b.example/?a=", profile.store.GetAccessUrl());
    EXPECT_EQ(1, profile.store.GetSkipPrompt());
    EXPECT_EQ(0x2A0B4, profile.store.GetRegisteredWindow());
}

TEST(SettingsRegistry, ValuesOfTheWrongTypeReadAsDefaults)
{
    Profile profile("types");
    PutRaw("types", "Settings", "ports", REG_SZ, "12", 3);
    EXPECT_EQ(63u, profile.store.GetPortMask());
    const BYTE binary[] = {12, 0, 0, 0};
    PutRaw("types", "Settings", "ports", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ(63u, profile.store.GetPortMask());
    const BYTE shortDword[] = {12, 0};
    PutRaw("types", "Settings", "ports", REG_DWORD, shortDword, sizeof shortDword);
    EXPECT_EQ(63u, profile.store.GetPortMask());

    const DWORD number = 7;
    PutRaw("types", "Options", "AccessUrl", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), profile.store.GetAccessUrl());
    PutRaw("types", "Options", "AccessUrl", REG_BINARY, "http://c.example/", 17);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), profile.store.GetAccessUrl());
    PutRaw("types", "Options", "AccessUrl", REG_EXPAND_SZ, "%TEMP%", 7);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), profile.store.GetAccessUrl());
}

TEST(SettingsRegistry, HugeAndUnterminatedStringsReadWhole)
{
    Profile profile("strings");
    const std::string huge = "http://huge.example/?q=" + std::string(100000 - 23, 'q');
    ASSERT_EQ(100000u, huge.size());
    PutRaw("strings", "Options", "AccessUrl", REG_SZ, huge.c_str(), static_cast<DWORD>(huge.size() + 1));
    EXPECT_EQ(huge, profile.store.GetAccessUrl());

    // The registry counts a terminator the caller left out when a NUL happens to follow the
    // data, so the byte after it must not be one.
    const std::string unterminated = "http://d.example/?x=";
    const std::string followed = unterminated + "Y";
    PutRaw("strings", "Options", "AccessUrl", REG_SZ, followed.data(), static_cast<DWORD>(unterminated.size()));
    DWORD size = 0;
    ASSERT_EQ(static_cast<DWORD>(REG_SZ), TypeOf("strings", "Options", "AccessUrl", &size));
    ASSERT_EQ(unterminated.size(), size);
    EXPECT_EQ(unterminated, profile.store.GetAccessUrl());

    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, (ProfilePath("strings") + "\\Options").c_str(), 0, KEY_WRITE, &raw));
    const scoped::RegKey key(raw);
    const wchar_t wide[] = L"http://w.example/Y";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"AccessUrl", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                                            static_cast<DWORD>((std::size(wide) - 2) * sizeof(wchar_t))));
    EXPECT_EQ("http://w.example/", profile.store.GetAccessUrl());

    profile.store.SetAccessUrl(huge);
    EXPECT_EQ(huge, profile.store.GetAccessUrl());
}

TEST(SettingsRegistry, KeysAreOpenedAfreshOnEveryCall)
{
    Profile profile("reopen");
    profile.store.SetPortMask(9);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, ProfilePath("reopen").c_str()));
    EXPECT_EQ(63u, profile.store.GetPortMask());
    profile.store.SetPortMask(3);
    EXPECT_EQ(3u, profile.store.GetPortMask());
}
