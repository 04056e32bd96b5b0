// Paths as the system gives them: the folder a program lives in, a file beside it, and its
// base name, in single- and double-byte code pages.
#include "platform/FilePath.h"

#include <gtest/gtest.h>

namespace {

using namespace filepath;

// Shift-JIS: lead bytes 0x81-0x9F and 0xE0-0xFC; the byte after one may be 0x5C.
bool ShiftJisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const ansi::LeadBytePredicate kSingleByte = &ansi::NoLeadBytes;

} // namespace

TEST(FilePath, FolderAndNeighbourOfAProgram)
{
    EXPECT_EQ(R"(C:\Program Files\Entravo)", FolderOf(R"(C:\Program Files\Entravo\logonagent.exe)", kSingleByte));
    EXPECT_EQ(R"(C:\Program Files\Entravo\SerilaneSetup.exe)",
              Beside(R"(C:\Program Files\Entravo\logonagent.exe)", "SerilaneSetup.exe", kSingleByte));
    EXPECT_EQ(R"(\\server\share)", FolderOf(R"(\\server\share\logonagent.exe)", kSingleByte));
    EXPECT_EQ(R"(\\server\share\SerilaneSetup.exe)",
              Beside(R"(\\server\share\logonagent.exe)", "SerilaneSetup.exe", kSingleByte));
    EXPECT_EQ("C:/apps", FolderOf("C:/apps/logonagent.exe", kSingleByte));
    // A dot in a folder name is not the extension.
    EXPECT_EQ(R"(D:\v1.0\SerilaneSetup.exe)", Beside(R"(D:\v1.0\agent)", "SerilaneSetup.exe", kSingleByte));
}

TEST(FilePath, AtARootTheFolderKeepsItsSeparator)
{
    // "C:" alone would name the current directory of drive C, wherever that is.
    EXPECT_EQ(R"(C:\)", FolderOf(R"(C:\logonagent.exe)", kSingleByte));
    EXPECT_EQ(R"(C:\SerilaneSetup.exe)", Beside(R"(C:\logonagent.exe)", "SerilaneSetup.exe", kSingleByte));
    EXPECT_EQ(R"(\\?\C:\)", FolderOf(R"(\\?\C:\logonagent.exe)", kSingleByte));
    EXPECT_EQ(R"(\)", FolderOf(R"(\logonagent.exe)", kSingleByte));
}

TEST(FilePath, PathWithoutFolderGivesNothingRatherThanAGuess)
{
    EXPECT_FALSE(FolderOf("logonagent.exe", kSingleByte).has_value());
    EXPECT_FALSE(FolderOf("", kSingleByte).has_value());
    EXPECT_FALSE(Beside("logonagent.exe", "SerilaneSetup.exe", kSingleByte).has_value());
}

TEST(FilePath, BackslashAsSecondByteOfADoubleByteCharacterDoesNotSplit)
{
    // "\x95\x5C" is one character in Shift-JIS whose second byte is a backslash.
    EXPECT_EQ("C:\\\x95\x5C", FolderOf("C:\\\x95\x5C\\logonagent.exe", ShiftJisLeadByte));
    EXPECT_EQ("C:\\\x95\x5C\\lampup.exe", Beside("C:\\\x95\x5C\\logonagent.exe", "lampup.exe", ShiftJisLeadByte));
    // A name starting with that character: the only separator is the root's.
    EXPECT_EQ("C:\\", FolderOf("C:\\\x95\x5Clogonagent.exe", ShiftJisLeadByte));
    EXPECT_EQ("\x95\x5C"
              "agent",
              BaseNameWithoutExtension("C:\\dir\\\x95\x5C"
                                       "agent.exe",
                                       ShiftJisLeadByte));
}

TEST(FilePath, BaseNameIsTheLastPartWithoutItsExtension)
{
    EXPECT_EQ("logonagent", BaseNameWithoutExtension("C:\\Program Files\\Entravo\\logonagent.exe", kSingleByte));
    EXPECT_EQ("logonagent", BaseNameWithoutExtension("logonagent.exe", kSingleByte));
    EXPECT_EQ("logonagent", BaseNameWithoutExtension("/opt/bin/logonagent", kSingleByte));
    EXPECT_EQ("agent", BaseNameWithoutExtension("C:/mixed\\dir/agent.EXE", kSingleByte));
    EXPECT_EQ("logon.agent", BaseNameWithoutExtension("C:\\x\\logon.agent.exe", kSingleByte));
    EXPECT_EQ("agent", BaseNameWithoutExtension("C:\\v1.2\\agent", kSingleByte));
    EXPECT_EQ("", BaseNameWithoutExtension("", kSingleByte));
    EXPECT_EQ("", BaseNameWithoutExtension("C:\\dir\\", kSingleByte));
    EXPECT_EQ("", BaseNameWithoutExtension(".exe", kSingleByte));
}
