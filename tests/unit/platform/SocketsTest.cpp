#include "platform/Resolver.h"
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace platform;

TEST(Sockets, IPv4Literals)
{
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},     {" 10.1.2.3 ", true},   {"255.255.255.255", true},
        {"127.0.1", false},      {"1.2.3.256", false},   {".1.2.3.4", false},
        {"1.2.3.4.5", false},    {"1.2.3.", false},      {"localhost", false},
        {"1..2.3", false},       {"", false},            {"0001.2.3.4", false},
    };
    for (const auto& [text, literal] : cases)
        EXPECT_EQ(ParseIPv4Literal(text), literal) << text;
    TSockAddr addr;
    ASSERT_TRUE(ParseIPv4Literal("192.168.001.010", &addr));
    EXPECT_EQ(AddressText(addr), "192.168.1.10");
    ASSERT_TRUE(ParseIPv6Literal("::1", &addr));
    EXPECT_EQ(AddressText(addr), "::1");
    EXPECT_FALSE(ParseIPv6Literal("127.0.0.1"));
}

TEST(Sockets, MailServicesHavePortsEvenWithoutServicesDatabase)
{
    const std::pair<const char*, int> cases[] = {
        {"smtp", 25}, {"submission", 587}, {"smtps", 465}, {"submissions", 465}, {"SMTP", 25},
    };
    for (const auto& [name, number] : cases) {
        std::uint16_t port = 0;
        ASSERT_TRUE(LookupServicePort(name, "tcp", port)) << name;
        EXPECT_EQ(port, number) << name;
    }
    std::uint16_t port = 0;
    EXPECT_FALSE(LookupServicePort("no-such-service", "tcp", port));
}

TEST(Resolver, LocalhostResolvesOnTheResolverThread)
{
    std::promise<TLookupResult> done;
    const std::uint64_t id = StartLookup("localhost", TLookupFamily::IPv4,
                                         [&](std::uint64_t, const TLookupResult& r) { done.set_value(r); });
    EXPECT_NE(id, 0u);
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const TLookupResult result = future.get();
    EXPECT_EQ(result.Error, 0);
    ASSERT_FALSE(result.Addresses.empty());
    EXPECT_EQ(result.Addresses.front(), "127.0.0.1");
}

TEST(Resolver, CancelledLookupNeverReports)
{
    std::atomic<int> calls {0};
    std::vector<std::uint64_t> ids;
    for (int i = 0; i < 20; ++i)
        ids.push_back(StartLookup("localhost", TLookupFamily::IPv4, [&](std::uint64_t, const TLookupResult&) { ++calls; }));
    int cancelled = 0;
    for (std::uint64_t id : ids)
        cancelled += CancelLookup(id) ? 1 : 0;
    // A last one shows when the resolver has gone through the queue.
    std::promise<void> last;
    StartLookup("localhost", TLookupFamily::IPv4, [&](std::uint64_t, const TLookupResult&) { last.set_value(); });
    ASSERT_EQ(last.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(calls.load() + cancelled, 20);
    EXPECT_FALSE(CancelLookup(ids.front())) << "an ended lookup cannot be cancelled";
}
