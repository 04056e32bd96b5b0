#include "profile/ProfileStore.h"

#include "profile/PortMask.h"

namespace {

constexpr std::string_view kOptionsSection = "Options";
constexpr std::string_view kSkipPromptEntry = "SkipAccessDialog";
constexpr std::string_view kAccessUrlEntry = "AccessUrl";
constexpr std::string_view kSettingsSection = "Settings";
constexpr std::string_view kPortsEntry = "ports";
constexpr std::string_view kRegisterSection = "Register";
constexpr std::string_view kWindowEntry = "Window";

} // namespace

int ProfileStore::GetSkipPrompt() const
{
    return static_cast<int>(m_backend.ReadInt(kOptionsSection, kSkipPromptEntry).value_or(0));
}

void ProfileStore::SetSkipPrompt(int value)
{
    m_backend.WriteInt(kOptionsSection, kSkipPromptEntry, static_cast<uint32_t>(value));
}

std::string ProfileStore::GetAccessUrl() const
{
    // Only a missing value takes the default: an empty URL is the user's own choice.
    return m_backend.ReadString(kOptionsSection, kAccessUrlEntry).value_or(DefaultAccessUrl());
}

std::string ProfileStore::DefaultAccessUrl()
{
    return "http://logon.example.com/cgi-bin/login.cgi?Authenticate=";
}

void ProfileStore::SetAccessUrl(std::string_view url)
{
    m_backend.WriteString(kOptionsSection, kAccessUrlEntry, url);
}

unsigned ProfileStore::GetPortMask() const
{
    const uint32_t stored = m_backend.ReadInt(kSettingsSection, kPortsEntry).value_or(kAllPortsMask);
    return stored == 0 ? kPortMaskForStoredZero : stored;
}

void ProfileStore::SetPortMask(int mask)
{
    m_backend.WriteInt(kSettingsSection, kPortsEntry, static_cast<uint32_t>(mask));
}

int ProfileStore::GetRegisteredWindow() const
{
    return static_cast<int>(m_backend.ReadInt(kRegisterSection, kWindowEntry).value_or(0));
}

void ProfileStore::SetRegisteredWindow(int window)
{
    m_backend.WriteInt(kRegisterSection, kWindowEntry, static_cast<uint32_t>(window));
}
