#pragma once
// The simulated reader that every stand-in library plays: which buses exist on which
// (port number, adapter type) pairs, what devices sit on them, and which faults to inject.
// The text format is documented in standins/README.md; this header is its only parser.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SimDevice {
    std::array<uint8_t, 8> rom{}; // ROM byte 0 (the family code) first
    bool romFail = false;         // every ROM read of this device fails
    uint8_t high = 0;             // upper byte of every cell a ROM read delivers
    int wrongAnswers = 0;         // command blocks answered with wrong check bytes; kWrongAlways: all
};

inline constexpr int kWrongAlways = -1;

struct SimBus {
    int port = 0;
    int adapter = 0;
    std::optional<int32_t> start; // forced session-start result; none: a fresh positive session
    int16_t setup = 1;            // what the bus setup returns
    std::vector<SimDevice> devices;
};

struct ReaderDescription {
    std::vector<SimBus> buses;
    int lampPort = 1; // the bus the token libraries see (USB by default)
    int lampAdapter = 6;
    int xobs = 1;
    bool keyOpenFails = false;
    bool strongAccessFails = false;
    std::string logPath; // empty: no call log (unless the environment names one)

    const SimBus* FindBus(int port, int adapter) const;
};

// Parses the whole text. On a malformed line the result is empty and *error (when given)
// names the line and the fault; a half-read reader is never returned.
std::optional<ReaderDescription> ParseReaderDescription(std::string_view text, std::string* error);

// "01A1B2C3D4E5F6C7": the 16 hex digits of a ROM, family byte first.
std::string FormatRom(const std::array<uint8_t, 8>& rom);

// Where the description comes from: the environment variable ENTRAVO_SIM_READER when it is
// set and not empty, otherwise reader.txt in the folder of the library that asks.
inline constexpr const char* kReaderEnvironmentVariable = "ENTRAVO_SIM_READER";
inline constexpr const char* kLogEnvironmentVariable = "ENTRAVO_SIM_LOG";
inline constexpr std::size_t kMaxReaderFileSize = 1 << 20;

// An unknown library folder and no variable give an empty path: no reader.
std::string ChooseReaderPath(const std::optional<std::string>& environmentValue, std::string_view libraryFolder);

// Reads and parses the file at path. No file means a reader with no bus and no error. A file
// that cannot be read, is larger than kMaxReaderFileSize or does not parse also gives a reader
// with no bus, and *error says why, so a broken description is seen rather than half-used.
ReaderDescription LoadReaderDescription(const std::string& path, std::string* error);
