#include "tools/authdecode/AuthDecode.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kAuthenticator = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201";
const std::string kRom = "0123456789ABCDEF";

void ExpectDecoded(std::string_view input)
{
    const AuthDecodeOutcome outcome = DecodeAuthenticatorInput(input);
    EXPECT_TRUE(outcome.decoded) << input << ": " << outcome.text;
    EXPECT_EQ(kRom, outcome.text) << input;
}

void ExpectRejected(std::string_view input, std::string_view reasonPart)
{
    const AuthDecodeOutcome outcome = DecodeAuthenticatorInput(input);
    EXPECT_FALSE(outcome.decoded) << input;
    EXPECT_NE(std::string::npos, outcome.text.find(reasonPart)) << outcome.text;
    EXPECT_EQ(std::string::npos, outcome.text.find('\n')) << outcome.text;
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the built tool with at most one argument and the given standard input.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& input = "")
{
    char pattern[] = "/tmp/authdecode-test-XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    std::ofstream(dir / "in") << input;
    std::string command = AUTHDECODE_PROGRAM;
    for (const auto& arg : args)
        command += " " + ShellQuoted(arg);
    command += " <" + (dir / "in").string() + " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir / "out"), ReadFile(dir / "err")};
    std::filesystem::remove_all(dir);
    return run;
}

} // namespace

TEST(AuthDecode, DecodesABareAuthenticatorInEitherCase)
{
    ExpectDecoded(kAuthenticator);
    std::string lower = kAuthenticator;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ExpectDecoded(lower);
    ExpectDecoded("  " + kAuthenticator + "\r\n");
}

TEST(AuthDecode, DecodesTheAuthenticatorAtTheEndOfALogonUrl)
{
    ExpectDecoded("http://logon.example.com/cgi-bin/login.cgi?Authenticate=" + kAuthenticator);
    ExpectDecoded("https://a.example/x?site=7&auth=" + kAuthenticator);
    // Access URLs need not end in '='; a path that looks hexadecimal must not confuse it.
    ExpectDecoded("http://a.example/logon/" + kAuthenticator);
    ExpectDecoded("http://a.example/cafe" + kAuthenticator);
}

TEST(AuthDecode, RejectsMissingShortAndDamagedInput)
{
    ExpectRejected("", "no input");
    ExpectRejected(" \r\n", "no input");
    ExpectRejected(kAuthenticator.substr(1), "too short");
    ExpectRejected("http://a.example/?Authenticate=" + kAuthenticator + "0", "found 65");
    ExpectRejected("http://a.example/?Authenticate=" + kAuthenticator.substr(2), "found 62");
    std::string damaged = "x=" + kAuthenticator;
    damaged[10] = 'G';
    ExpectRejected(damaged, "character 11 is 'G'");
    damaged[10] = '\x01';
    ExpectRejected(damaged, "character 11 is byte \\x01");
}

TEST(AuthDecode, RejectsAnAuthenticatorWhoseKeyIsNotPositive)
{
    ExpectRejected(std::string(64, '0'), "key is not a positive number");
}

TEST(AuthDecodeProgram, PrintsTheRomForAnArgumentOrAStandardInputLine)
{
    const ToolRun fromArgument = RunTool({"http://logon.example.com/cgi-bin/login.cgi?Authenticate=" + kAuthenticator});
    EXPECT_EQ(0, fromArgument.status);
    EXPECT_EQ(kRom + "\n", fromArgument.out);
    EXPECT_EQ("", fromArgument.err);

    const ToolRun fromInput = RunTool({}, kAuthenticator + "\nignored second line\n");
    EXPECT_EQ(0, fromInput.status);
    EXPECT_EQ(kRom + "\n", fromInput.out);
}

TEST(AuthDecodeProgram, BadInputGivesOneErrorLineAndStatusTwo)
{
    for (const ToolRun& run :
         {RunTool({"not-an-authenticator"}), RunTool({}, ""), RunTool({"a", "b"}), RunTool({std::string(64, '0')})}) {
        EXPECT_EQ(2, run.status);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(0u, run.err.rfind("authdecode: ", 0)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
}
