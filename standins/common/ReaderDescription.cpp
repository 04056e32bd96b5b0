#include "standins/common/ReaderDescription.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

std::vector<std::string_view> SplitWords(std::string_view line)
{
    if (auto comment = line.find('#'); comment != std::string_view::npos) {
        line = line.substr(0, comment);
    }
    std::vector<std::string_view> words;
    constexpr std::string_view kBlanks = " \t\r\v\f";
    std::size_t pos = 0;
    while ((pos = line.find_first_not_of(kBlanks, pos)) != std::string_view::npos) {
        std::size_t end = line.find_first_of(kBlanks, pos);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

// Decimal or 0x hexadecimal, optionally negative, within [low, high].
std::optional<int64_t> ParseNumber(std::string_view word, int64_t low, int64_t high)
{
    bool negative = false;
    if (!word.empty() && word.front() == '-') {
        negative = true;
        word.remove_prefix(1);
    }
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    if (word.empty() || word.front() == '-' || word.front() == '+') {
        return std::nullopt;
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), magnitude, base);
    if (ec != std::errc{} || end != word.data() + word.size() || magnitude > (uint64_t{1} << 32)) {
        return std::nullopt;
    }
    int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::array<uint8_t, 8>> ParseRom(std::string_view word)
{
    if (word.size() != 16) {
        return std::nullopt;
    }
    std::array<uint8_t, 8> rom{};
    for (std::size_t i = 0; i < rom.size(); ++i) {
        auto [end, ec] = std::from_chars(word.data() + 2 * i, word.data() + 2 * i + 2, rom[i], 16);
        if (ec != std::errc{} || end != word.data() + 2 * i + 2) {
            return std::nullopt;
        }
    }
    return rom;
}

constexpr int64_t kInt16Min = std::numeric_limits<int16_t>::min();
constexpr int64_t kInt16Max = std::numeric_limits<int16_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

class Parser {
public:
    bool ParseLine(const std::vector<std::string_view>& words);
    const std::string& Error() const { return m_error; }
    ReaderDescription Take() { return std::move(m_reader); }

private:
    bool Fail(std::string message)
    {
        m_error = std::move(message);
        return false;
    }
    bool ExpectCount(const std::vector<std::string_view>& words, std::size_t count);
    std::optional<std::pair<int, int>> ParsePair(const std::vector<std::string_view>& words);
    SimBus* CurrentBus();

    bool Bus(const std::vector<std::string_view>& words);
    bool Start(const std::vector<std::string_view>& words);
    bool Setup(const std::vector<std::string_view>& words);
    bool Device(const std::vector<std::string_view>& words);
    bool LampBus(const std::vector<std::string_view>& words);
    bool Xobs(const std::vector<std::string_view>& words);
    bool Failing(const std::vector<std::string_view>& words, bool& flag);
    bool Log(const std::vector<std::string_view>& words);

    ReaderDescription m_reader;
    std::string m_error;
};

bool Parser::ExpectCount(const std::vector<std::string_view>& words, std::size_t count)
{
    if (words.size() != count) {
        return Fail("\"" + std::string(words[0]) + "\" takes " + std::to_string(count - 1) + " value(s)");
    }
    return true;
}

std::optional<std::pair<int, int>> Parser::ParsePair(const std::vector<std::string_view>& words)
{
    if (!ExpectCount(words, 3)) {
        return std::nullopt;
    }
    auto port = ParseNumber(words[1], 0, kInt16Max);
    auto adapter = ParseNumber(words[2], 0, kInt16Max);
    if (!port || !adapter) {
        Fail("port number and adapter type must be numbers from 0 to 32767");
        return std::nullopt;
    }
    return std::pair{static_cast<int>(*port), static_cast<int>(*adapter)};
}

SimBus* Parser::CurrentBus()
{
    if (m_reader.buses.empty()) {
        Fail("this line needs a \"bus\" line before it");
        return nullptr;
    }
    return &m_reader.buses.back();
}

bool Parser::Bus(const std::vector<std::string_view>& words)
{
    auto pair = ParsePair(words);
    if (!pair) {
        return false;
    }
    if (m_reader.FindBus(pair->first, pair->second)) {
        return Fail("bus " + std::to_string(pair->first) + " " + std::to_string(pair->second) + " is described twice");
    }
    SimBus bus;
    bus.port = pair->first;
    bus.adapter = pair->second;
    m_reader.buses.push_back(std::move(bus));
    return true;
}

bool Parser::Start(const std::vector<std::string_view>& words)
{
    SimBus* bus = CurrentBus();
    if (!bus || !ExpectCount(words, 2)) {
        return false;
    }
    auto value = ParseNumber(words[1], kInt32Min, kInt32Max);
    if (!value) {
        return Fail("start value must be a 32-bit signed number");
    }
    bus->start = static_cast<int32_t>(*value);
    return true;
}

bool Parser::Setup(const std::vector<std::string_view>& words)
{
    SimBus* bus = CurrentBus();
    if (!bus || !ExpectCount(words, 2)) {
        return false;
    }
    auto value = ParseNumber(words[1], kInt16Min, kInt16Max);
    if (!value) {
        return Fail("setup value must be a 16-bit signed number");
    }
    bus->setup = static_cast<int16_t>(*value);
    return true;
}

bool Parser::Device(const std::vector<std::string_view>& words)
{
    SimBus* bus = CurrentBus();
    if (!bus) {
        return false;
    }
    if (words.size() < 2) {
        return Fail("\"device\" needs a ROM of 16 hex digits");
    }
    auto rom = ParseRom(words[1]);
    if (!rom) {
        return Fail("\"" + std::string(words[1]) + "\" is not a ROM of 16 hex digits");
    }
    SimDevice device;
    device.rom = *rom;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (words[i] == "romfail") {
            device.romFail = true;
        } else if (words[i] == "high" && i + 1 < words.size()) {
            auto value = ParseNumber(words[++i], 0, 255);
            if (!value) {
                return Fail("\"high\" takes a byte from 0 to 255");
            }
            device.high = static_cast<uint8_t>(*value);
        } else if (words[i] == "wrong" && i + 1 < words.size()) {
            if (words[++i] == "always") {
                device.wrongAnswers = kWrongAlways;
            } else if (auto value = ParseNumber(words[i], 0, std::numeric_limits<int>::max())) {
                device.wrongAnswers = static_cast<int>(*value);
            } else {
                return Fail("\"wrong\" takes a count or \"always\"");
            }
        } else {
            return Fail("unknown or incomplete device option \"" + std::string(words[i]) + "\"");
        }
    }
    bus->devices.push_back(device);
    return true;
}

bool Parser::LampBus(const std::vector<std::string_view>& words)
{
    auto pair = ParsePair(words);
    if (!pair) {
        return false;
    }
    m_reader.lampPort = pair->first;
    m_reader.lampAdapter = pair->second;
    return true;
}

bool Parser::Xobs(const std::vector<std::string_view>& words)
{
    if (!ExpectCount(words, 2)) {
        return false;
    }
    auto value = ParseNumber(words[1], 0, kInt16Max);
    if (!value) {
        return Fail("\"xobs\" takes a count from 0 to 32767");
    }
    m_reader.xobs = static_cast<int>(*value);
    return true;
}

bool Parser::Failing(const std::vector<std::string_view>& words, bool& flag)
{
    if (words.size() != 2 || words[1] != "fail") {
        return Fail("\"" + std::string(words[0]) + "\" must be followed by \"fail\"");
    }
    flag = true;
    return true;
}

bool Parser::Log(const std::vector<std::string_view>& words)
{
    if (!ExpectCount(words, 2)) {
        return false;
    }
    m_reader.logPath = std::string(words[1]);
    return true;
}

bool Parser::ParseLine(const std::vector<std::string_view>& words)
{
    const std::string_view directive = words[0];
    if (directive == "bus") {
        return Bus(words);
    }
    if (directive == "start") {
        return Start(words);
    }
    if (directive == "setup") {
        return Setup(words);
    }
    if (directive == "device") {
        return Device(words);
    }
    if (directive == "lampbus") {
        return LampBus(words);
    }
    if (directive == "xobs") {
        return Xobs(words);
    }
    if (directive == "keyopen") {
        return Failing(words, m_reader.keyOpenFails);
    }
    if (directive == "strongaccess") {
        return Failing(words, m_reader.strongAccessFails);
    }
    if (directive == "log") {
        return Log(words);
    }
    return Fail("unknown directive \"" + std::string(directive) + "\"");
}

} // namespace

const SimBus* ReaderDescription::FindBus(int port, int adapter) const
{
    for (const SimBus& bus : buses) {
        if (bus.port == port && bus.adapter == adapter) {
            return &bus;
        }
    }
    return nullptr;
}

std::optional<ReaderDescription> ParseReaderDescription(std::string_view text, std::string* error)
{
    Parser parser;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        auto words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        if (!parser.ParseLine(words)) {
            if (error) {
                *error = "line " + std::to_string(lineNumber) + ": " + parser.Error();
            }
            return std::nullopt;
        }
    }
    return parser.Take();
}

std::string FormatRom(const std::array<uint8_t, 8>& rom)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : rom) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string ChooseReaderPath(const std::optional<std::string>& environmentValue, std::string_view libraryFolder)
{
    if (environmentValue && !environmentValue->empty()) {
        return *environmentValue;
    }
    if (libraryFolder.empty()) {
        return {}; // never the current folder: that would pick up a stranger's reader.txt
    }
    std::string path(libraryFolder);
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    return path + "reader.txt";
}

ReaderDescription LoadReaderDescription(const std::string& path, std::string* error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {};
    }
    std::string text;
    text.resize(kMaxReaderFileSize + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        if (error) {
            *error = path + ": cannot be read";
        }
        return {};
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxReaderFileSize) {
        if (error) {
            *error = path + ": larger than " + std::to_string(kMaxReaderFileSize) + " bytes";
        }
        return {};
    }
    std::string parseError;
    auto reader = ParseReaderDescription(text, &parseError);
    if (!reader) {
        if (error) {
            *error = path + ": " + parseError;
        }
        return {};
    }
    return std::move(*reader);
}
