// What only the POSIX side of the platform layer has: iconv names and code
// pages, the OEM code page that follows the ANSI one, errno numbers, paths
// where a backslash is part of a name, private data beside the settings
// file, owner-only file modes, the C locale and named pipes.
#include "IconvNames.h"
#include "SocketErrors.h"
#include "platform/CodePageConv.h"
#include "platform/CodePages.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>

namespace platform {
namespace {

TEST(CodePageConv, IconvNames)
{
    const struct {
        unsigned CodePage;
        const char* Name;
    } cases[] = {
        {1252, "CP1252"},     {28591, "ISO-8859-1"}, {65000, "UTF-7"},     {50220, "ISO-2022-JP"},
        {37, "IBM037"},       {20127, "ASCII"},      {20273, "IBM273"},    {1141, "IBM1141"},
        {65001, "UTF-8"},     {1200, "UTF-16LE"},    {932, "CP932"},       {0, ""},
        {65536, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IconvNameOfCodePage(c.CodePage), c.Name) << c.CodePage;
}

// iconv converts more than Windows does (UTF-32), and more than Wine does.
TEST(CodePageConv, IconvConvertsTheRarerCodePages)
{
    for (unsigned cp : {50220u, 50225u, 54936u, 51932u, 12001u, 1047u, 20273u})
        EXPECT_TRUE(CodePageAvailable(cp)) << cp;
}

// DOS code page 437 goes with the Western ANSI code pages; elsewhere the
// ANSI code page stands in for the OEM one.
TEST(CodePageConv, OemCodePageFollowsTheAnsiOne)
{
    const std::pair<unsigned, unsigned> cases[] = {
        {1252, 437}, {28591, 437}, {28605, 437}, {1251, 1251}, {1250, 1250}, {CP_UTF8, CP_UTF8}};
    for (const auto& [ansi, oem] : cases) {
        SetAnsiCodePageOverride(ansi);
        EXPECT_EQ(SystemOemCodePage(), oem) << ansi;
    }
    SetAnsiCodePageOverride(0);
}

// The test program never sets a locale: the C locale's callers get UTF-8.
TEST(CodePages, TheCLocaleGivesUtf8)
{
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_EQ(SystemAnsiCodePage(), 65001u);
}

// A named pipe with nobody at its other end never stops the program: it
// reads as empty, cannot be opened for writing, and is no regular file.
TEST(Files, NamedPipesNeverWait)
{
    char dir[] = "/tmp/plonemail-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    std::vector<std::string> lines {"stale"};
    EXPECT_FALSE(ReadTextLines(fifo, lines));
    EXPECT_TRUE(lines.empty());
    TAppendFile log;
    const auto err = log.Open(fifo);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENXIO");
    TFile file;
    ASSERT_FALSE(file.Open(fifo, TFile::TMode::Read));
    EXPECT_FALSE(file.IsRegularFile());
    file.Close();

    unlink(fifo.c_str());
    rmdir(dir);
}

TEST(Sockets, SystemErrorsMapToSocketNumbers)
{
    const std::pair<int, int> cases[] = {
        {0, 0},
        {ECONNREFUSED, 10061},
        {ETIMEDOUT, 10060},
        {ECONNRESET, 10054},
        {EHOSTUNREACH, 10065},
        {ENETUNREACH, 10051},
        {EAGAIN, 10035},
        {EADDRINUSE, 10048},
        {ENOTCONN, 10057},
        {EPIPE, 10058},
        {EINPROGRESS, 10036},
    };
    for (const auto& [sys, wsa] : cases)
        EXPECT_EQ(WsaErrorFromErrno(sys), wsa) << sys;
    EXPECT_EQ(WsaErrorFromLookup(EAI_NONAME, 0), 11001);
    EXPECT_EQ(WsaErrorFromLookup(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(WsaErrorFromLookup(EAI_FAIL, 0), 11003);
    EXPECT_EQ(WsaErrorFromLookup(EAI_NODATA, 0), 11004);
}

TEST(Paths, OnlyThePlatformSeparatorDividesAPath)
{
    const struct {
        const char* Path;
        const char* Directory;
        const char* Name;
    } cases[] = {
        {"dir/sub/file.txt", "dir/sub/", "file.txt"},
        {"/file.txt", "/", "file.txt"},
        {"file.txt", "", "file.txt"},
        {"dir/", "dir/", ""},
        // A backslash is part of a name here.
        {"dir/back\\slash.txt", "dir/", "back\\slash.txt"},
        {"C:\\Users\\ann\\notes.txt", "", "C:\\Users\\ann\\notes.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DirectoryOfPath(c.Path), c.Directory) << c.Path;
        EXPECT_EQ(FileNameOfPath(c.Path), c.Name) << c.Path;
    }
}

TEST(Paths, PrivateDataBesideTheSettingsFile)
{
    EXPECT_EQ(PrivateDataPath("/opt/pm/plonEmail.dat", ".tokens"), "/opt/pm/plonEmail.tokens");
    EXPECT_EQ(PrivateDataPath("/opt/pm/site.dat.cfg", ".tokens"), "/opt/pm/site.dat.tokens");
    EXPECT_EQ(PrivateDataPath("/opt/p.m/settings", ".tokens"), "/opt/p.m/settings.tokens");
    EXPECT_EQ(PrivateDataPath("/opt/pm/.dat", ".tokens"), "/opt/pm/.dat.tokens");
}

// The new content replaces the old as a whole, readable by the owner only,
// also where the old file was readable by others.
TEST(Files, OwnerOnlyFileReplacesTheOld)
{
    const std::string path = testing::TempDir() + "owner_only_" + std::to_string(::getpid());
    ASSERT_FALSE(CreateEmptyFile(path));
    ::chmod(path.c_str(), 0666);
    ASSERT_FALSE(ReplaceOwnerOnlyFile(path, std::string("new\0content", 11)));
    std::string text;
    ASSERT_FALSE(ReadFileText(path, text));
    EXPECT_EQ(text, std::string("new\0content", 11));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::unlink(path.c_str());
    const auto err = ReplaceOwnerOnlyFile(testing::TempDir() + "no/such/dir/file", "x");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENOENT");
}

} // namespace
} // namespace platform
