// What only the Windows side of the platform layer has: both separators and
// drive letters in paths, sharing modes that hold, Windows error numbers
// reported as the same errors as elsewhere, private data in the user's
// profile and files only their owner may open.
#include "Win32Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include "../../TempDirectory.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace platform {
namespace {

TEST(Paths, BothSeparatorsAndDrives)
{
    const struct {
        const char* Path;
        const char* Directory;
        const char* Name;
        bool Absolute;
    } cases[] = {
        {"C:\\dir\\sub\\file.txt", "C:\\dir\\sub\\", "file.txt", true},
        {"C:/dir/file.txt", "C:/dir/", "file.txt", true},
        {"dir\\sub/file.txt", "dir\\sub/", "file.txt", false},
        {"\\\\server\\share\\f.txt", "\\\\server\\share\\", "f.txt", true},
        {"\\top.txt", "\\", "top.txt", true},
        {"/top.txt", "/", "top.txt", true},
        // Relative to the current folder of drive C.
        {"C:file.txt", "C:", "file.txt", false},
        {"file.txt", "", "file.txt", false},
        {"dir\\", "dir\\", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DirectoryOfPath(c.Path), c.Directory) << c.Path;
        EXPECT_EQ(FileNameOfPath(c.Path), c.Name) << c.Path;
        EXPECT_EQ(IsAbsolutePath(c.Path), c.Absolute) << c.Path;
        EXPECT_EQ(HasDirectoryPart(c.Path), *c.Directory != '\0') << c.Path;
    }
}

TEST(Paths, ProgramDirHoldsTheRunningProgram)
{
    const std::string dir = ProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '\\');
    EXPECT_TRUE(DirectoryExists(dir)) << dir;
    EXPECT_EQ(DirectoryOfPath(ModuleFileOf(reinterpret_cast<const void*>(&ProgramDir))), dir + "\\");
}

// The folder beside the program is shared by every user of the machine.
TEST(Paths, PrivateDataInTheUsersProfile)
{
    const std::string profile = MakeTempDirectory("appdata_");
    char saved[MAX_PATH] = "";
    const DWORD had = GetEnvironmentVariableA("LOCALAPPDATA", saved, MAX_PATH);
    SetEnvironmentVariableA("LOCALAPPDATA", profile.c_str());
    EXPECT_EQ(PrivateDataPath("C:\\Programs\\pm\\plonEmail.dat", ".tokens"),
              profile + "\\plonemail\\plonEmail.tokens");
    EXPECT_TRUE(DirectoryExists(profile + "\\plonemail"));
    SetEnvironmentVariableA("LOCALAPPDATA", nullptr);
    EXPECT_EQ(PrivateDataPath("C:\\Programs\\pm\\plonEmail.dat", ".tokens"), "C:\\Programs\\pm\\plonEmail.tokens");
    SetEnvironmentVariableA("LOCALAPPDATA", had ? saved : nullptr);
}

// Who holds the file first and how it shares it decides whether a second
// open succeeds; files written by the program itself share everything.
TEST(Files, SharingModesHold)
{
    const std::string path = MakeTempDirectory("share_") + "\\file.txt";
    ASSERT_FALSE(CreateEmptyFile(path));
    const struct {
        TFileShare First;
        TFile::TMode Second;
        bool SecondOpens;
    } cases[] = {
        {TFileShare::DenyNone, TFile::TMode::Append, true},
        {TFileShare::DenyNone, TFile::TMode::Read, true},
        {TFileShare::DenyWrite, TFile::TMode::Read, true},
        {TFileShare::DenyWrite, TFile::TMode::Append, false},
        {TFileShare::DenyRead, TFile::TMode::Read, false},
        {TFileShare::Exclusive, TFile::TMode::Read, false},
        {TFileShare::Compat, TFile::TMode::Read, false},
    };
    for (const auto& c : cases) {
        TFile first, second;
        ASSERT_FALSE(first.Open(path, TFile::TMode::Read, c.First));
        const auto err = second.Open(path, c.Second, TFileShare::DenyNone);
        EXPECT_EQ(!err, c.SecondOpens) << static_cast<int>(c.First) << " " << static_cast<int>(c.Second);
        if (err) {
            EXPECT_EQ(err->Name, "EACCES");
        }
    }
    TAppendFile log;
    ASSERT_FALSE(log.Open(path));
    TFile reader;
    EXPECT_FALSE(reader.Open(path, TFile::TMode::Read, TFileShare::DenyNone));
}

TEST(SystemError, WindowsNumbersAsTheSameErrors)
{
    const std::pair<unsigned long, const char*> cases[] = {
        {ERROR_FILE_NOT_FOUND, "ENOENT"},    {ERROR_PATH_NOT_FOUND, "ENOENT"},
        {ERROR_ACCESS_DENIED, "EACCES"},     {ERROR_SHARING_VIOLATION, "EACCES"},
        {ERROR_DISK_FULL, "ENOSPC"},         {ERROR_ALREADY_EXISTS, "EEXIST"},
        {ERROR_BROKEN_PIPE, "EPIPE"},        {ERROR_INVALID_PARAMETER, "EINVAL"},
        {ERROR_INVALID_FUNCTION, "EIO"},
    };
    for (const auto& [code, name] : cases) {
        const SystemError err = SystemErrorFromWin32(code);
        EXPECT_EQ(err.Name, name) << code;
        EXPECT_FALSE(err.Message.empty()) << code;
    }
}

// The access list of a file in the system's own notation.
std::string AccessList(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return "?";
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
    const std::string list = text ? text : "?";
    LocalFree(text);
    LocalFree(descriptor);
    return list;
}

bool OthersMayRead(const std::string& accessList)
{
    for (const char* others : {";;;WD)", ";;;BU)", ";;;AU)"})
        if (accessList.find(others) != std::string::npos)
            return true;
    return false;
}

// The new content replaces the old as a whole, and no one but its user (and
// the system) may open it, whatever a new file of the folder would allow.
TEST(Files, OwnerOnlyFileReplacesTheOld)
{
    const std::string dir = MakeTempDirectory("owner_");
    const std::string path = dir + "\\tokens";
    ASSERT_FALSE(CreateEmptyFile(path));
    ASSERT_TRUE(OthersMayRead(AccessList(path))) << AccessList(path);
    ASSERT_FALSE(ReplaceOwnerOnlyFile(path, std::string("new\0content", 11)));
    std::string text;
    ASSERT_FALSE(ReadFileText(path, text));
    EXPECT_EQ(text, std::string("new\0content", 11));
    EXPECT_FALSE(OthersMayRead(AccessList(path))) << AccessList(path);
    EXPECT_TRUE(DeleteFileAt(path));
    const auto err = ReplaceOwnerOnlyFile(dir + "\\no_dir\\file", "x");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENOENT");
}

} // namespace
} // namespace platform
