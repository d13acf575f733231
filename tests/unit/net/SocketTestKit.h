#pragma once
// Helpers of the socket tests: a one-connection TCP server on 127.0.0.1 that
// plays a script on its own thread, and bounded pumping of the test thread's
// message loop.

#include "../LoopbackListener.h"
#include "platform/EventLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

constexpr int WaitMs = 10000;

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
    ::close(OpenLoopbackListener(-1, port));
    return std::to_string(port);
}

class TTestServer {
public:
    using TStep = std::function<bool(TTestServer&)>;

    explicit TTestServer(int backlog = 4)
    {
        std::uint16_t port = 0;
        FListen = OpenLoopbackListener(backlog, port);
        FPort = port;
    }

    ~TTestServer()
    {
        FStop = true;
        Signal(1 << 30);
        if (FThread.joinable())
            FThread.join();
        if (FConn >= 0)
            ::close(FConn);
        ::close(FListen);
    }

    TTestServer(const TTestServer&) = delete;
    TTestServer& operator=(const TTestServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }

    // Script steps, added before Start; the connection is accepted first.
    TTestServer& Send(std::string bytes)
    {
        return Step([bytes](TTestServer& s) {
            return ::send(s.FConn, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        });
    }
    // Waits until the test has called Signal with at least this number.
    TTestServer& WaitSignal(int number)
    {
        return Step([number](TTestServer& s) {
            std::unique_lock lock(s.FMutex);
            return s.FCv.wait_for(lock, std::chrono::milliseconds(WaitMs), [&] { return s.FSignal >= number; }) &&
                   !s.FStop;
        });
    }
    TTestServer& Pause(int ms)
    {
        return Step([ms](TTestServer&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return true;
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
            ::close(s.FConn);
            s.FConn = -1;
            return true;
        });
    }
    // Closes with a reset.
    TTestServer& Reset()
    {
        return Step([](TTestServer& s) {
            linger hard {1, 0};
            ::setsockopt(s.FConn, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(s.FConn);
            s.FConn = -1;
            return true;
        });
    }
    TTestServer& Step(TStep step)
    {
        FScript.push_back(std::move(step));
        return *this;
    }

    void Start()
    {
        FThread = std::thread([this] { Run(); });
    }

    void Signal(int number)
    {
        std::lock_guard lock(FMutex);
        FSignal = std::max(FSignal, number);
        FCv.notify_all();
    }

    bool Done() const { return FDone; }
    std::string Received() const
    {
        std::lock_guard lock(FMutex);
        return FReceived;
    }

private:
    bool WaitReadable(int fd)
    {
        for (int waited = 0; waited < WaitMs && !FStop; waited += 20) {
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }

    bool ReadUpTo(std::size_t count)
    {
        char buffer[65536];
        std::size_t got = 0;
        while (got < count && WaitReadable(FConn)) {
            const ssize_t n = ::recv(FConn, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
            std::lock_guard lock(FMutex);
            FReceived.append(buffer, static_cast<std::size_t>(n));
        }
        return got >= count;
    }

    void Run()
    {
        if (WaitReadable(FListen)) {
            FConn = ::accept(FListen, nullptr, nullptr);
            for (const TStep& step : FScript)
                if (FConn < 0 || FStop || !step(*this))
                    break;
        }
        FDone = true;
    }

    int FListen = -1;
    int FConn = -1;
    unsigned short FPort = 0;
    std::vector<TStep> FScript;
    std::thread FThread;
    std::atomic<bool> FStop {false};
    std::atomic<bool> FDone {false};
    mutable std::mutex FMutex;
    std::condition_variable FCv;
    int FSignal = 0;
    std::string FReceived;
};

} // namespace nettest
