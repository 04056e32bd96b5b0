#pragma once
// The agent's settings with their defaults, over a small storage backend: the per-user
// registry on Windows, memory in tests.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One value per (section, entry). A read or write opens the chain of keys down to the
// section and creates the keys that are missing (never values). Failures are silent: a read
// that fails, or finds a value of another kind, gives nothing; a write that fails gives false.
class ProfileBackend {
public:
    virtual ~ProfileBackend() = default;
    virtual std::optional<uint32_t> ReadInt(std::string_view section, std::string_view entry) = 0;
    virtual std::optional<std::string> ReadString(std::string_view section, std::string_view entry) = 0;
    virtual bool WriteInt(std::string_view section, std::string_view entry, uint32_t value) = 0;
    virtual bool WriteString(std::string_view section, std::string_view entry, std::string_view value) = 0;
};

class ProfileStore {
public:
    explicit ProfileStore(ProfileBackend& backend) : m_backend(backend) {}

    // "Options"/"SkipAccessDialog", default 0.
    int GetSkipPrompt() const;
    void SetSkipPrompt(int value);

    // "Options"/"AccessUrl", default DefaultAccessUrl(); a stored empty string stays empty.
    std::string GetAccessUrl() const;
    static std::string DefaultAccessUrl();
    void SetAccessUrl(std::string_view url);

    // "Settings"/"ports", default 63; a stored 0 reads as 31 (no USB).
    unsigned GetPortMask() const;
    void SetPortMask(int mask);

    // "Register"/"Window": the running agent's hidden window, 0 when none.
    int GetRegisteredWindow() const;
    void SetRegisteredWindow(int window);

private:
    ProfileBackend& m_backend;
};
