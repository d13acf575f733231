#include "TempDir.h"
#include "runner/Settings.h"
#include "runner/kelCryptStr.h"
#include "runner/kelStrings.h"

#include <gtest/gtest.h>

using namespace runner;

TEST(Settings, DefaultsForMissingKeys)
{
    TTempDir dir;
    std::optional<platform::SystemError> err;
    auto s = ReadSettingsFile(dir.Write("empty.dat", ""), err);
    EXPECT_FALSE(err);
    EXPECT_EQ(s.Host, "");
    EXPECT_EQ(s.Port, "smtp");
    EXPECT_EQ(s.Auth, 0);
    EXPECT_EQ(s.Language, "english.lng");
    EXPECT_FALSE(s.SaveLog);
    EXPECT_FALSE(s.UseSSL);
    EXPECT_EQ(s.SSLType, 0);
    EXPECT_FALSE(s.VerifyPeer);
    EXPECT_EQ(s.CAFile, "");
    EXPECT_EQ(s.Password, "");
    EXPECT_EQ(s.Timeout, 60);
    EXPECT_EQ(s.DataTimeout, 600);
}

TEST(Settings, TimeLimitsAreNeverOff)
{
    TTempDir dir;
    std::optional<platform::SystemError> err;
    auto s = ReadSettingsFile(dir.Write("t.dat", "[SendMail]\nTimeout=5\nDataTimeout=900\n"), err);
    EXPECT_EQ(s.Timeout, 5);
    EXPECT_EQ(s.DataTimeout, 900);
    s = ReadSettingsFile(dir.Write("t.dat", "[SendMail]\nTimeout=0\nDataTimeout=-1\n"), err);
    EXPECT_EQ(s.Timeout, 60);
    EXPECT_EQ(s.DataTimeout, 600);
}

TEST(Settings, ValuesAsWritten)
{
    TTempDir dir;
    std::optional<platform::SystemError> err;
    auto s = ReadSettingsFile(dir.Write("s.dat",
        "[sendmail]\nhost = smtp.example.com   \nPort=587\nAuth=0x2\nUseSSL=1\nSSLType=2\n"
        "VerifyPeer=1\nCAFile=/etc/ssl/mail ca.pem\n"
        "SaveLog=-1\nOemChars=yes\nPassword=" + ScramblePassword("Secret 1!") + "\nFrom='me@example.com'\n"), err);
    EXPECT_EQ(s.Host, "smtp.example.com");
    EXPECT_EQ(s.Port, "587");
    EXPECT_EQ(s.Auth, 2);
    EXPECT_TRUE(s.UseSSL);
    EXPECT_EQ(s.SSLType, 2);
    EXPECT_TRUE(s.VerifyPeer);
    EXPECT_EQ(s.CAFile, "/etc/ssl/mail ca.pem");
    EXPECT_TRUE(s.SaveLog);
    EXPECT_FALSE(s.OemChars);
    EXPECT_EQ(s.Password, "Secret 1!");
    EXPECT_EQ(s.From, "me@example.com");
}

TEST(Settings, ProblemsNameKeyAndValue)
{
    TSettings ok;
    EXPECT_FALSE(SettingsProblem(ok));
    TSettings auth;
    auth.Auth = 7;
    EXPECT_EQ(*SettingsProblem(auth), "Invalid setting Auth=7 (allowed: 0 to 6)");
    TSettings ssl;
    ssl.SSLType = -1;
    EXPECT_EQ(*SettingsProblem(ssl), "Invalid setting SSLType=-1 (allowed: 0 to 2)");
    TSettings cp;
    cp.CodePage = "klingon";
    EXPECT_EQ(*SettingsProblem(cp), "Invalid setting CodePage=klingon (unknown character set)");
    cp.CodePage = "iso-2022-jp";
    EXPECT_EQ(*SettingsProblem(cp),
              "Invalid setting CodePage=iso-2022-jp (not ASCII-compatible, job scripts cannot be read in it)");
    cp.CodePage = "52936";
    EXPECT_EQ(*SettingsProblem(cp), "Invalid setting CodePage=52936 (not available on this system)");
}

TEST(Settings, CodePageSetting)
{
    const struct {
        const char* Value;
        unsigned CodePage;  // 0: refused
        const char* Problem;
    } cases[] = {
        {"windows-1252", 1252, ""},
        {"1250", 1250, ""},
        {"UTF-8", 65001, ""},
        {" iso-8859-1 ", 28591, ""},
        {"shift_jis", 932, ""},
        {"gb18030", 54936, ""},
        {"CP1251", 1251, ""},  // a locale's name
        {"nonsense", 0, "unknown character set"},
        {"99", 0, "unknown character set"},
        {"hz-gb-2312", 0, "not available on this system"},
        {"iso-2022-jp", 0, "not ASCII-compatible, job scripts cannot be read in it"},
        {"utf-7", 0, "not ASCII-compatible, job scripts cannot be read in it"},
        {"1200", 0, "not ASCII-compatible, job scripts cannot be read in it"},
        {"37", 0, "not ASCII-compatible, job scripts cannot be read in it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        std::string problem = "stale";
        EXPECT_EQ(CodePageFromSetting(c.Value, &problem), c.CodePage);
        EXPECT_EQ(problem, c.Problem);
    }
}

TEST(Scrambling, KnownFormsAndRoundTrip)
{
    EXPECT_EQ(UnscramblePassword(""), "");
    EXPECT_EQ(ScramblePassword("A"), "n");       // first letter of the scrambled alphabet
    EXPECT_EQ(ScramblePassword("AA"), "na");     // the alphabet turns one place per character
    EXPECT_EQ(ScramblePassword("B"), "a");
    EXPECT_EQ(UnscramblePassword("n"), "A");
    EXPECT_EQ(ScramblePassword("a b"), ScramblePassword("a") + " " + ScramblePassword("xxb").substr(2));

    std::string all = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -_!\xE9";
    for (auto& text : {all, all + all + all, std::string("p@ss w0rd")})
        EXPECT_EQ(UnscramblePassword(ScramblePassword(text)), text);
}

// What the scrambler prints must come back through the settings reader
// exactly, blanks and quotes at the ends included.
TEST(Scrambling, StoredValueReadsBackExactly)
{
    TTempDir dir;
    for (const std::string password : {"plain", "", " secret", "secret ", "\tsecret\t", "  ", "'quoted'",
                                       "\"dq\"", "\"", "'", "a\"b", "x'", "\" both \"", "p=w;#[x]"}) {
        SCOPED_TRACE("[" + password + "]");
        const auto text = SettingsValueText(ScramblePassword(password));
        ASSERT_TRUE(text);
        std::optional<platform::SystemError> err;
        const auto s = ReadSettingsFile(dir.Write("s.dat", "[SendMail]\r\nPassword=" + *text + "\r\n"), err);
        EXPECT_EQ(s.Password, password);
    }
    // Quotes only where they are needed, so plain values look as before.
    EXPECT_EQ(SettingsValueText("abc"), "abc");
    EXPECT_EQ(SettingsValueText(" abc"), "\" abc\"");
    EXPECT_EQ(SettingsValueText("'abc'"), "\"'abc'\"");
    // More than the reader keeps, or a line break, cannot be stored.
    EXPECT_FALSE(SettingsValueText(std::string(2048, 'a')));
    EXPECT_FALSE(SettingsValueText("a\rb"));
}

TEST(Scrambling, RotationWrapsAtCharacter63)
{
    std::string sixtyThree(63, 'A');
    std::string stored = ScramblePassword(sixtyThree);
    EXPECT_EQ(stored[62], stored[0]);  // position 63 uses the unrotated alphabet again
    EXPECT_EQ(stored[0], 'n');
}

TEST(SplitString, Items)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitString("a;b;;c;", ";"), (V{"a", "b", "", "c"}));
    EXPECT_EQ(SplitString("", ";"), V{});
    EXPECT_EQ(SplitString(";", ";"), (V{""}));
    EXPECT_EQ(SplitString(" a , b ", ","), (V{" a ", " b "}));
    EXPECT_EQ(SplitString("a::b", "::"), (V{"a", "b"}));
    EXPECT_EQ(SplitString("a;b", ""), (V{"a;b"}));
    EXPECT_EQ(SplitString("A;b", "a"), (V{"A;b"}));
}
