#pragma once
// Helpers of the socket tests: a one-connection TCP server on 127.0.0.1 that
// plays a script on its own thread, and bounded pumping of the test thread's
// message loop.

#include "../ScriptServer.h"
#include "platform/EventLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using testserver::WaitMs;

// Pumps the calling thread's loop until pred holds; false when the bounded
// wait ran out.
inline bool RunUntil(const std::function<bool()>& pred, int timeoutMs = WaitMs)
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    platform::TQueuedMessage message;
    for (;;) {
        while (loop.PeekMessage(message)) {
            platform::TEventLoop::DispatchMessage(message);
            if (pred())
                return true;
        }
        if (pred())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        loop.WaitMessage(static_cast<int>(std::min<long long>(left, 20)));
    }
}

// Pumps for a fixed time (to show that nothing more happens).
inline void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

// A port on 127.0.0.1 where nothing listens.
inline std::string ClosedPort()
{
    std::uint16_t port = 0;
    platform::SocketClose(OpenLoopbackListener(-1, port));
    return std::to_string(port);
}

// Whether this system tells a reset connection from a closed one: the peer
// that receives the reset reads an error, not the end of the stream. (Wine
// reads the end.)
inline bool ResetsAreReported()
{
    platform::TSocketHandle pair[2];
    if (!LoopbackPair(pair))
        return true;
    platform::SocketSetLinger(pair[1], true, 0);
    platform::SocketClose(pair[1]);
    platform::SocketWaitReadable(pair[0], WaitMs);
    char byte = 0;
    int err = 0;
    const long got = platform::SocketRecv(pair[0], &byte, 1, err);
    platform::SocketClose(pair[0]);
    return got < 0;
}

// A plain server: the accept, then the script.
class TTestServer : public testserver::TScriptServer<TTestServer> {
public:
    explicit TTestServer(int backlog = 4)
        : TScriptServer(backlog)
    {
    }

    TTestServer& Send(std::string bytes)
    {
        return Step([bytes](TTestServer& s) {
            return SendAll(s.FConn, bytes);
        });
    }
    // Reads until count bytes have come (or the peer closed).
    TTestServer& Read(std::size_t count)
    {
        return Step([count](TTestServer& s) { return s.ReadUpTo(count); });
    }
    // Reads until the peer closes.
    TTestServer& ReadToEnd()
    {
        return Step([](TTestServer& s) {
            s.ReadUpTo(static_cast<std::size_t>(-1));
            return true;
        });
    }
    TTestServer& Close()
    {
        return Step([](TTestServer& s) {
            s.CloseConnection();
            return true;
        });
    }
    // Closes with a reset.
    TTestServer& Reset()
    {
        return Step([](TTestServer& s) {
            platform::SocketSetLinger(s.FConn, true, 0);
            s.CloseConnection();
            return true;
        });
    }

private:
    bool ReadUpTo(std::size_t count)
    {
        char buffer[65536];
        std::size_t got = 0;
        while (got < count && WaitReadable(FConn)) {
            int err = 0;
            const long n = platform::SocketRecv(FConn, buffer, sizeof buffer, err);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
            Keep(buffer, static_cast<std::size_t>(n));
        }
        return got >= count;
    }
};

} // namespace nettest
