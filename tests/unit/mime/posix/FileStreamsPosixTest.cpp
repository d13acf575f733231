// Files a POSIX system has that no attachment may be: named pipes, devices
// and folders.
#include "mime/MimeException.h"
#include "mime/ReadStream.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace mime {
namespace {

// Pipes and devices could block the run or never end: only regular files
// are read.
TEST(FileStreams, OnlyRegularFiles)
{
    char dir[] = "/tmp/plonemail-mime-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string(dir)}) {
        try {
            OpenBufferedFile(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const EMimeException& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\": not a regular file");
        }
    }
    unlink(fifo.c_str());
    rmdir(dir);
}

} // namespace
} // namespace mime
