#pragma once
// Host-name lookup off the caller's thread: requests queue for one
// background resolver thread (getaddrinfo), which reports each completion
// through the request's callback. The thread starts with the first request
// and ends when the queue is empty; it never blocks the process's exit.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class TLookupFamily {
    IPv4,         // IPv4 addresses only
    IPv6,         // IPv6 addresses only
    Any,          // both, in the system's order
    AnyIPv4First, // both, IPv4 addresses first
    AnyIPv6First, // both, IPv6 addresses first
};

struct TLookupResult {
    int Error = 0; // Windows Sockets number, 0 on success
    std::vector<std::string> Addresses;
};

// Runs on the resolver thread; must not block for long.
using TLookupDone = std::function<void(std::uint64_t id, const TLookupResult& result)>;

// Blocking lookup on the calling thread.
TLookupResult ResolveHost(const std::string& host, TLookupFamily family);

// Queues a lookup and returns its id (never 0).
std::uint64_t StartLookup(const std::string& host, TLookupFamily family, TLookupDone done);
// The callback of id is not called after this returns (one already running
// is waited for). False when the lookup had already completed.
bool CancelLookup(std::uint64_t id);

} // namespace platform
