#include "platform/IniFile.h"

#include <gtest/gtest.h>

using platform::ParseProfileInteger;
using platform::TIniFile;

TEST(IniFile, TextRules)
{
    auto ini = TIniFile::FromText(
        "[other]\nHost=wrong\n"
        "[ sendmail ]\r\n"
        "host = mail.example.com   \r\n"
        "Port=587\n"
        "From=\"Jane <jane@example.com>\"\n"
        "User='x'y'\n"
        "Single=\"\n"
        "Expr=a=b\n"
        "novalue\n"
        "Host=second wins not\n"
        "Empty=\n");
    EXPECT_EQ(ini.ReadString("SendMail", "HOST", "d"), "mail.example.com");
    EXPECT_EQ(ini.ReadString("SendMail", "Port", "smtp"), "587");
    EXPECT_EQ(ini.ReadString("SendMail", "From", ""), "Jane <jane@example.com>");
    EXPECT_EQ(ini.ReadString("SendMail", "User", ""), "x'y");  // one pair only
    EXPECT_EQ(ini.ReadString("SendMail", "Single", ""), "\"");
    EXPECT_EQ(ini.ReadString("SendMail", "Expr", ""), "a=b");  // first "=" splits
    EXPECT_EQ(ini.ReadString("SendMail", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("SendMail", "Missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("Nowhere", "Host", "d"), "d");
    EXPECT_EQ(ini.ReadSectionKeys("SENDMAIL"),
              (std::vector<std::string>{"host", "Port", "From", "User", "Single", "Expr", "Empty"}));
}

TEST(IniFile, ValueLimitAndMarks)
{
    auto ini = TIniFile::FromText("\xEF\xBB\xBF[S]\nk=" + std::string(3000, 'v') + "\n");
    EXPECT_EQ(ini.ReadString("s", "K", "").size(), TIniFile::MaxValueLength);
}

TEST(IniFile, IntegerRules)
{
    struct Case {
        const char* text;
        std::optional<long> want;
    } cases[] = {
        {"0", 0},        {"587", 587},      {"-1", -1},          {"+7", 7},
        {"0x2", 2},      {"0X1f", 31},      {"$10", 16},         {"-$10", -16},
        {"0x", std::nullopt}, {"$", std::nullopt}, {"", std::nullopt}, {"abc", std::nullopt},
        {"12abc", std::nullopt}, {"1.5", std::nullopt}, {"true", std::nullopt},
        {"$FFFFFFFF", -1}, {"99999999999", std::nullopt}, {"2147483647", 2147483647},
    };
    for (auto& c : cases)
        EXPECT_EQ(ParseProfileInteger(c.text), c.want) << c.text;
}

TEST(IniFile, BooleansAreIntegers)
{
    auto ini = TIniFile::FromText("[s]\na=1\nb=-1\nc=0\nd=yes\ne=true\n");
    EXPECT_TRUE(ini.ReadBool("s", "a", false));
    EXPECT_TRUE(ini.ReadBool("s", "b", false));
    EXPECT_FALSE(ini.ReadBool("s", "c", true));
    EXPECT_FALSE(ini.ReadBool("s", "d", false));
    EXPECT_FALSE(ini.ReadBool("s", "e", false));
}

TEST(IniFile, MissingFileReadsEmptyAndSaysWhy)
{
    TIniFile ini("/nonexistent-dir/x.dat");
    ASSERT_TRUE(ini.LoadError().has_value());
    EXPECT_EQ(ini.LoadError()->Name, "ENOENT");
    EXPECT_EQ(ini.ReadString("s", "k", "d"), "d");
}
