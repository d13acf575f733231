#pragma once
// The system's readiness wait under the event loop: which sockets can be
// read or written, have failed or were closed by the peer, and a wake-up
// that other threads use to end a wait early.

#include "platform/Sockets.h"

#include <memory>
#include <vector>

namespace platform {

struct TPollItem {
    TSocketHandle Socket = InvalidSocket;
    unsigned Wanted = 0;  // FdRead, FdWrite
    bool WatchEnd = true; // report the peer's hang-up (errors are always reported)
    unsigned Ready = 0;   // set by Wait: TFdEvent bits
};

class TPoller {
public:
    // Raises EEventLoopError when the system refuses the wake-up's resources.
    TPoller();
    ~TPoller();
    TPoller(const TPoller&) = delete;
    TPoller& operator=(const TPoller&) = delete;

    // Waits until an item is ready, Wake is called or timeoutMs have passed
    // (-1: no limit; 0: only looks). Sets Ready of every item.
    void Wait(std::vector<TPollItem>& items, int timeoutMs);
    // Any thread: ends the current or the next Wait.
    void Wake();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace platform
