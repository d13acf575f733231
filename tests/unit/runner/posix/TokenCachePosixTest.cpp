// The token file's permission bits on a POSIX system (Windows keeps the
// file in the user's profile with an access list of its own).
#include "runner/TokenCache.h"

#include "../TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace runner;

namespace {

constexpr std::int64_t kNow = 1'800'000'000;

TEST(TokenCache, OnlyTheOwnerMayReadTheFile)
{
    TTempDir dir;
    const std::string path = dir.Write("c.tokens", "{}");
    ::chmod(path.c_str(), 0644);
    ASSERT_FALSE(TTokenCache(path).Store("a", {"token", kNow + 3600}, kNow));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
