#include "TempDir.h"
#include "platform/CodePageConv.h"
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
    // A value below 1 second, or none that reads as a number, gives the default.
    const struct {
        const char* Text;
        long Timeout, DataTimeout;
    } cases[] = {
        {"Timeout=5\nDataTimeout=900", 5, 900},
        {"Timeout=1\nDataTimeout=1", 1, 1},
        {"Timeout=0x10", 16, 600},
        {"Timeout=0\nDataTimeout=-1", 60, 600},
        {"Timeout=-30\nDataTimeout=0", 60, 600},
        {"Timeout=\nDataTimeout=", 60, 600},
        {"Timeout=soon\nDataTimeout=10 minutes", 60, 600},
        {"Timeout=99999999999", 60, 600},
    };
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        std::optional<platform::SystemError> err;
        auto s = ReadSettingsFile(dir.Write("t.dat", std::string("[SendMail]\n") + c.Text + "\n"), err);
        EXPECT_EQ(s.Timeout, c.Timeout);
        EXPECT_EQ(s.DataTimeout, c.DataTimeout);
    }
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
    auth.Auth = 9;
    EXPECT_EQ(*SettingsProblem(auth), "Invalid setting Auth=9 (allowed: 0 to 8)");
    TSettings ssl;
    ssl.SSLType = -1;
    EXPECT_EQ(*SettingsProblem(ssl), "Invalid setting SSLType=-1 (allowed: 0 to 2)");
    TSettings cp;
    cp.CodePage = "klingon";
    EXPECT_EQ(*SettingsProblem(cp), "Invalid setting CodePage=klingon (unknown character set)");
    cp.CodePage = "utf-7";
    EXPECT_EQ(*SettingsProblem(cp),
              "Invalid setting CodePage=utf-7 (not ASCII-compatible, job scripts cannot be read in it)");
    cp.CodePage = "52936";
    EXPECT_EQ(*SettingsProblem(cp), "Invalid setting CodePage=52936 (not available on this system)");
}

// The secret and the refresh token are stored scrambled, like Password.
TEST(Settings, OAuthKeysReadBack)
{
    TTempDir dir;
    std::optional<platform::SystemError> err;
    const std::string secret = "Cl1ent~Secret.Value_42";
    const std::string refresh = "1//0gRefresh-Token_Value";
    auto s = ReadSettingsFile(dir.Write("o.dat",
        "[SendMail]\nAuth=7\nOAuthTokenUrl=https://oauth2.googleapis.com/token\nOAuthClientId=app.example\n"
        "OAuthClientSecret=" + ScramblePassword(secret) + "\nOAuthScope=https://mail.google.com/\n"
        "OAuthRefreshToken=" + ScramblePassword(refresh) + "\nOAuthTokenCommand=\"helper --print\"\n"), err);
    EXPECT_EQ(s.Auth, 7);
    EXPECT_EQ(s.OAuth.TokenUrl, "https://oauth2.googleapis.com/token");
    EXPECT_EQ(s.OAuth.ClientId, "app.example");
    EXPECT_NE(ScramblePassword(secret), secret);
    EXPECT_EQ(s.OAuth.ClientSecret, secret);
    EXPECT_EQ(s.OAuth.Scope, "https://mail.google.com/");
    EXPECT_EQ(s.OAuth.RefreshToken, refresh);
    EXPECT_EQ(s.OAuth.TokenCommand, "helper --print");
}

TEST(Settings, OAuthNeedsASourceOfTokens)
{
    const auto problem = [](long auth, TOAuthSettings oauth) {
        TSettings s;
        s.Auth = auth;
        s.OAuth = std::move(oauth);
        return SettingsProblem(s).value_or("");
    };
    const std::string url = "https://login.example/token";
    EXPECT_EQ(problem(7, {}), "Invalid setting Auth=7 (the OAuth token needs OAuthTokenCommand or OAuthTokenUrl)");
    EXPECT_EQ(problem(8, {.TokenCommand = "helper"}), "");
    EXPECT_EQ(problem(7, {.TokenUrl = "http://login.example/token", .ClientId = "a", .ClientSecret = "b"}),
              "Invalid setting OAuthTokenUrl=http://login.example/token (must start with https://)");
    EXPECT_EQ(problem(7, {.TokenUrl = url, .ClientSecret = "b"}),
              "Invalid setting Auth=7 (OAuthTokenUrl needs OAuthClientId)");
    EXPECT_EQ(problem(8, {.TokenUrl = url, .ClientId = "a"}),
              "Invalid setting Auth=8 (without OAuthRefreshToken the token is asked for with OAuthClientSecret, "
              "which is empty)");
    EXPECT_EQ(problem(8, {.TokenUrl = url, .ClientId = "a", .RefreshToken = "r"}), "");
    // Other mechanisms do not look at them.
    EXPECT_EQ(problem(2, {}), "");
}

TEST(Settings, JobOverridesOnlyTheOAuthValuesItGives)
{
    TOAuthSettings s {.TokenUrl = "https://a/token", .ClientId = "app", .ClientSecret = "secret", .Scope = "s"};
    s.Override({.ClientSecret = "other", .RefreshToken = "r"});
    EXPECT_EQ(s.TokenUrl, "https://a/token");
    EXPECT_EQ(s.ClientId, "app");
    EXPECT_EQ(s.ClientSecret, "other");
    EXPECT_EQ(s.Scope, "s");
    EXPECT_EQ(s.RefreshToken, "r");
    EXPECT_EQ(s.TokenCommand, "");
}

TEST(Settings, CodePageSetting)
{
    const struct {
        const char* Value;
        unsigned CodePage;  // 0: refused
        const char* Problem;
        unsigned Needs = 0;  // the code page behind a refusal, where that is another
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
        {"iso-2022-jp", 0, "not ASCII-compatible, job scripts cannot be read in it", 50220},
        {"utf-7", 0, "not ASCII-compatible, job scripts cannot be read in it"},
        {"1200", 0, "not ASCII-compatible, job scripts cannot be read in it"},
        {"37", 0, "not ASCII-compatible, job scripts cannot be read in it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        // Which code pages a system converts differs (Wine has neither
        // GB18030 nor ISO-2022-JP).
        const unsigned needs = c.Needs != 0 ? c.Needs : c.CodePage;
        const bool here = needs == 0 || platform::CodePageAvailable(needs);
        std::string problem = "stale";
        EXPECT_EQ(CodePageFromSetting(c.Value, &problem), here ? c.CodePage : 0u);
        EXPECT_EQ(problem, here ? c.Problem : "not available on this system");
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
