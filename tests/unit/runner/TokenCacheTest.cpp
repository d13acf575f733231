// The token cache: its expiry rule against a given clock and what survives
// between runs.
#include "runner/TokenCache.h"

#include "TempDir.h"

#include <gtest/gtest.h>

using namespace runner;

namespace {

constexpr std::int64_t kNow = 1'800'000'000;

TEST(TokenCache, TokenIsGivenUpAMinuteBeforeItExpires)
{
    const std::int64_t expiresAt = kNow + 3600;
    EXPECT_TRUE(TTokenCache::Usable(expiresAt, kNow));
    EXPECT_TRUE(TTokenCache::Usable(expiresAt, expiresAt - 61));
    EXPECT_FALSE(TTokenCache::Usable(expiresAt, expiresAt - 60));
    EXPECT_FALSE(TTokenCache::Usable(expiresAt, expiresAt));
    EXPECT_FALSE(TTokenCache::Usable(expiresAt, expiresAt + 1));
}

TEST(TokenCache, FindsWhatWasStoredWhileItIsUsable)
{
    TTempDir dir;
    TTokenCache cache(dir.File("plonEmail.tokens"));
    EXPECT_FALSE(cache.Find("account", kNow));
    ASSERT_FALSE(cache.Store("account", {"token-1", kNow + 3600}, kNow));

    // A later run reads the same file.
    const TTokenCache later(dir.File("plonEmail.tokens"));
    const auto found = later.Find("account", kNow + 3000);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->AccessToken, "token-1");
    EXPECT_EQ(found->ExpiresAt, kNow + 3600);
    EXPECT_FALSE(later.Find("account", kNow + 3540));
    EXPECT_FALSE(later.Find("another account", kNow));
}

TEST(TokenCache, AccountsAreKeptApartAndDroppedOneByOne)
{
    TTempDir dir;
    TTokenCache cache(dir.File("c.tokens"));
    const std::string binaryKey = "url\nclient\n\xe9l\xe8ve";  // not UTF-8
    ASSERT_FALSE(cache.Store("a", {"token-a", kNow + 3600}, kNow));
    ASSERT_FALSE(cache.Store(binaryKey, {"token-b", kNow + 3600}, kNow));
    ASSERT_FALSE(cache.Store("a", {"token-a2", kNow + 7200}, kNow));
    EXPECT_EQ(cache.Find("a", kNow)->AccessToken, "token-a2");
    EXPECT_EQ(cache.Find(binaryKey, kNow)->AccessToken, "token-b");
    ASSERT_FALSE(cache.Drop("a"));
    EXPECT_FALSE(cache.Find("a", kNow));
    EXPECT_EQ(cache.Find(binaryKey, kNow)->AccessToken, "token-b");
    EXPECT_FALSE(cache.Drop("never stored"));
    // The file names no account.
    EXPECT_EQ(dir.Read("c.tokens").find("url"), std::string::npos);
}

TEST(TokenCache, ExpiredTokensLeaveTheFileWithTheNextStore)
{
    TTempDir dir;
    TTokenCache cache(dir.File("c.tokens"));
    ASSERT_FALSE(cache.Store("old", {"token-old", kNow + 100}, kNow));
    ASSERT_FALSE(cache.Store("new", {"token-new", kNow + 3600}, kNow + 200));
    EXPECT_EQ(dir.Read("c.tokens").find("token-old"), std::string::npos);
    EXPECT_NE(dir.Read("c.tokens").find("token-new"), std::string::npos);
}

// A damaged or foreign file is no reason to fail: it counts as empty.
TEST(TokenCache, UnreadableContentCountsAsEmpty)
{
    TTempDir dir;
    for (const char* content : {"", "not json", "[1,2]", R"({"x": 5})",
                                R"({"0b5c": {"access_token": 7, "expires_at": "soon"}})"}) {
        const std::string path = dir.Write("c.tokens", content);
        TTokenCache cache(path);
        EXPECT_FALSE(cache.Find("a", kNow)) << content;
        ASSERT_FALSE(cache.Store("a", {"token", kNow + 3600}, kNow)) << content;
        EXPECT_EQ(cache.Find("a", kNow)->AccessToken, "token") << content;
    }
}

TEST(TokenCache, AStoreThatCannotBeWrittenSaysWhy)
{
    TTempDir dir;
    const auto err = TTokenCache(dir.File("no/such/dir/c.tokens")).Store("a", {"token", kNow + 3600}, kNow);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->Name, "ENOENT");
}

} // namespace
