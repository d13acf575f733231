// A named pipe is no attachment: it could block the run or never end.
#include "mime/MimeException.h"
#include "mime/ReadStream.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace mime {
namespace {

TEST(FileStreams, OnlyRegularFiles)
{
    const std::string pipe = "\\\\.\\pipe\\plonemail-test-" + std::to_string(GetCurrentProcessId());
    const HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    try {
        OpenBufferedFile(pipe);
        ADD_FAILURE() << "no exception for " << pipe;
    } catch (const EMimeException& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + pipe + "\": not a regular file");
    }
    CloseHandle(server);
}

} // namespace
} // namespace mime
