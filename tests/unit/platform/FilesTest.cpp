#include "platform/CodePages.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sys/stat.h>
#include <unistd.h>

using platform::SplitTextLines;

TEST(Files, LineEndsOfEveryKind)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitTextLines("\n"), (V{""}));
    EXPECT_EQ(SplitTextLines(""), V{});
    EXPECT_EQ(SplitTextLines(std::string("x\0y\n", 4)), (V{std::string("x\0y", 3)}));
}

TEST(CodePages, LocaleCharsetNames)
{
    EXPECT_EQ(platform::CodePageOfLocaleCharset("UTF-8"), 65001u);
    EXPECT_EQ(platform::CodePageOfLocaleCharset("ISO-8859-15"), 28605u);
    EXPECT_EQ(platform::CodePageOfLocaleCharset("ANSI_X3.4-1968"), 20127u);
    EXPECT_EQ(platform::CodePageOfLocaleCharset("klingon"), 0u);
}

TEST(CodePages, OverrideWinsOverLocale)
{
    platform::SetAnsiCodePageOverride(1252);
    EXPECT_EQ(platform::SystemAnsiCodePage(), 1252u);
    platform::SetAnsiCodePageOverride(0);
    // The test program never sets a locale: the C locale's callers get UTF-8.
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_EQ(platform::SystemAnsiCodePage(), 65001u);
}

// A named pipe with nobody at its other end never stops the program: it
// reads as empty, and cannot be opened for writing.
TEST(Files, NamedPipesNeverWait)
{
    char dir[] = "/tmp/plonemail-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    std::vector<std::string> lines {"stale"};
    EXPECT_FALSE(platform::ReadTextLines(fifo, lines));
    EXPECT_TRUE(lines.empty());
    platform::TAppendFile log;
    const auto err = log.Open(fifo);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENXIO");
    const int fd = platform::OpenForReading(fifo);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(platform::IsRegularFile(fd));
    close(fd);

    unlink(fifo.c_str());
    rmdir(dir);
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
        EXPECT_EQ(platform::DirectoryOfPath(c.Path), c.Directory) << c.Path;
        EXPECT_EQ(platform::FileNameOfPath(c.Path), c.Name) << c.Path;
    }
}

TEST(Paths, PrivateDataBesideTheSettingsFile)
{
    EXPECT_EQ(platform::PrivateDataPath("/opt/pm/plonEmail.dat", ".tokens"), "/opt/pm/plonEmail.tokens");
    EXPECT_EQ(platform::PrivateDataPath("/opt/pm/site.dat.cfg", ".tokens"), "/opt/pm/site.dat.tokens");
    EXPECT_EQ(platform::PrivateDataPath("/opt/p.m/settings", ".tokens"), "/opt/p.m/settings.tokens");
    EXPECT_EQ(platform::PrivateDataPath("/opt/pm/.dat", ".tokens"), "/opt/pm/.dat.tokens");
}

// The new content replaces the old as a whole, readable by the owner only,
// also where the old file was readable by others.
TEST(Files, OwnerOnlyFileReplacesTheOld)
{
    const std::string path = testing::TempDir() + "owner_only_" + std::to_string(::getpid());
    ASSERT_FALSE(platform::CreateEmptyFile(path));
    ::chmod(path.c_str(), 0666);
    ASSERT_FALSE(platform::ReplaceOwnerOnlyFile(path, std::string("new\0content", 11)));
    std::string text;
    ASSERT_FALSE(platform::ReadFileText(path, text));
    EXPECT_EQ(text, std::string("new\0content", 11));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::unlink(path.c_str());
    const auto err = platform::ReplaceOwnerOnlyFile(testing::TempDir() + "no/such/dir/file", "x");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENOENT");
}
