#include "platform/Resolver.h"

#include "platform/Sockets.h"
#include "platform/System.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// IPv4 first or IPv6 first, each group in the system's order.
void OrderByFamily(std::vector<TSockAddr>& addresses, TLookupFamily family)
{
    if (family != TLookupFamily::AnyIPv4First && family != TLookupFamily::AnyIPv6First)
        return;
    const TAddressFamily first = family == TLookupFamily::AnyIPv4First ? TAddressFamily::IPv4 : TAddressFamily::IPv6;
    std::stable_partition(addresses.begin(), addresses.end(),
                          [first](const TSockAddr& a) { return a.Family() == first; });
}

struct TRequest {
    std::uint64_t Id;
    std::string Host;
    TLookupFamily Family;
    TLookupDone Done;
};

// Shared by the callers and the resolver thread, which keeps it alive for as
// long as it runs (past the end of main if need be).
struct TResolverState {
    std::mutex Lock;
    std::condition_variable CallbackEnded;
    std::deque<TRequest> Queue;
    std::uint64_t NextId = 0;
    std::uint64_t RunningId = 0; // 0 also when the running one was cancelled
    bool InCallback = false;
    bool ThreadRunning = false;
};

std::shared_ptr<TResolverState> State()
{
    static const std::shared_ptr<TResolverState> state = std::make_shared<TResolverState>();
    return state;
}

void RunResolver(std::shared_ptr<TResolverState> state)
{
    std::unique_lock lock(state->Lock);
    while (!state->Queue.empty()) {
        TRequest request = std::move(state->Queue.front());
        state->Queue.pop_front();
        state->RunningId = request.Id;
        lock.unlock();
        const TLookupResult result = ResolveHost(request.Host, request.Family);
        lock.lock();
        if (state->RunningId == request.Id) {
            state->InCallback = true;
            lock.unlock();
            request.Done(request.Id, result);
            lock.lock();
            state->InCallback = false;
            state->CallbackEnded.notify_all();
        }
        state->RunningId = 0;
    }
    state->ThreadRunning = false;
}

} // namespace

TLookupResult ResolveHost(const std::string& host, TLookupFamily family)
{
    TLookupResult result;
    std::vector<TSockAddr> addresses;
    result.Error = SystemLookup(host, family, addresses);
    if (result.Error != 0)
        return result;
    OrderByFamily(addresses, family);
    for (const TSockAddr& addr : addresses) {
        std::string text = AddressText(addr);
        if (std::find(result.Addresses.begin(), result.Addresses.end(), text) == result.Addresses.end())
            result.Addresses.push_back(std::move(text));
    }
    if (result.Addresses.empty())
        result.Error = WsaNO_DATA;
    return result;
}

std::uint64_t StartLookup(const std::string& host, TLookupFamily family, TLookupDone done)
{
    const std::shared_ptr<TResolverState> state = State();
    std::lock_guard lock(state->Lock);
    const std::uint64_t id = ++state->NextId;
    state->Queue.push_back(TRequest {id, host, family, std::move(done)});
    if (!state->ThreadRunning) {
        // Detached: a lookup the system takes long over must not hold up exit.
        try {
            std::thread(RunResolver, state).detach();
        } catch (...) {
            state->Queue.pop_back();
            throw;
        }
        state->ThreadRunning = true;
    }
    return id;
}

bool CancelLookup(std::uint64_t id)
{
    const std::shared_ptr<TResolverState> state = State();
    std::unique_lock lock(state->Lock);
    auto queued = std::find_if(state->Queue.begin(), state->Queue.end(),
                               [id](const TRequest& r) { return r.Id == id; });
    if (queued != state->Queue.end()) {
        state->Queue.erase(queued);
        return true;
    }
    if (state->RunningId != id || id == 0)
        return false;
    if (state->InCallback) {
        state->CallbackEnded.wait(lock, [&] { return !state->InCallback || state->RunningId != id; });
        return false;
    }
    state->RunningId = 0;
    return true;
}

} // namespace platform
