#include "platform/Files.h"
#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <random>

using platform::EFileStreamError;
using platform::TBufferedFileStream;

namespace {

std::string TempPath(const char* name)
{
    return testing::TempDir() + name + std::to_string(std::random_device {}());
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

TEST(BufferedFileStream, ReplacesFileAndKeepsEveryByteAcrossBufferSizes)
{
    const std::string path = TempPath("bfs_");
    {
        std::ofstream(path) << "old content that must go";
    }
    std::string expected;
    {
        TBufferedFileStream file(path, 8);
        // Pieces below, at and above the buffer size, with NUL bytes.
        for (const std::string& piece : {std::string("abc"), std::string("12345678"), std::string("x\0y", 3),
                                        std::string(20, 'z'), std::string()}) {
            file.Write(piece);
            expected += piece;
        }
        file.Close();
        file.Close(); // a second close does nothing
    }
    EXPECT_EQ(ReadAll(path), expected);
    std::remove(path.c_str());
}

TEST(BufferedFileStream, FailuresNameTheFileAndTheReason)
{
    try {
        TBufferedFileStream file("/nonexistent-dir/out.eml", 64);
        ADD_FAILURE() << "created a file in a missing directory";
    } catch (const EFileStreamError& e) {
        EXPECT_STREQ(e.what(), "Cannot create file \"/nonexistent-dir/out.eml\": No such file or directory");
    }
    // The device refuses every byte: the failure shows at the final flush.
    TBufferedFileStream full("/dev/full", 64);
    full.Write("short");
    try {
        full.Close();
        ADD_FAILURE() << "no error from a full device";
    } catch (const EFileStreamError& e) {
        EXPECT_STREQ(e.what(), "Cannot write to file \"/dev/full\": No space left on device");
        EXPECT_EQ(platform::ExceptionClassName(e), "EFileStreamError");
    }
}
