#pragma once
// The script machinery of the one-connection test servers on 127.0.0.1:
// after the accept, the steps run in order on the server's own thread; the
// test moves a script on with Signal; what the server read is kept. Every
// wait is bounded, so a client that stays silent cannot hang a test.
// TServer is the server class itself (its steps get it as argument); it
// may define Begin(), run after the accept, which ends the script when false.

#include "LoopbackListener.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testserver {

constexpr int WaitMs = 10000;

template <class TServer>
class TScriptServer {
public:
    using TStep = std::function<bool(TServer&)>;

    TScriptServer(const TScriptServer&) = delete;
    TScriptServer& operator=(const TScriptServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }

    TServer& Step(TStep step)
    {
        FScript.push_back(std::move(step));
        return Self();
    }
    // Waits until the test has called Signal with at least this number.
    TServer& WaitSignal(int number)
    {
        return Step([number](TServer& s) {
            std::unique_lock lock(s.FMutex);
            return s.FCv.wait_for(lock, std::chrono::milliseconds(WaitMs), [&] { return s.FSignal >= number; }) &&
                   !s.FStop;
        });
    }
    TServer& Pause(int ms)
    {
        return Step([ms](TServer&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return true;
        });
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

    // After the accept; false ends the script.
    bool Begin() { return true; }

protected:
    explicit TScriptServer(int backlog)
    {
        std::uint16_t port = 0;
        FListen = OpenLoopbackListener(backlog, port);
        FPort = port;
    }

    ~TScriptServer()
    {
        Stop();
        if (FConn >= 0)
            ::close(FConn);
        ::close(FListen);
    }

    // Ends the script and its thread; a server with members of its own that
    // the script uses calls it first in its destructor.
    void Stop()
    {
        FStop = true;
        Signal(1 << 30);
        if (FThread.joinable())
            FThread.join();
    }

    // Polls in short slices so that Stop is seen.
    bool WaitReadable(int fd)
    {
        for (int waited = 0; waited < WaitMs && !FStop; waited += 20) {
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }

    void Keep(const char* data, std::size_t size)
    {
        std::lock_guard lock(FMutex);
        FReceived.append(data, size);
    }

    void CloseConnection()
    {
        ::close(FConn);
        FConn = -1;
    }

    TServer& Self() { return static_cast<TServer&>(*this); }

    int FConn = -1;
    std::atomic<bool> FStop {false};
    mutable std::mutex FMutex;

private:
    void Run()
    {
        if (WaitReadable(FListen)) {
            FConn = ::accept(FListen, nullptr, nullptr);
            if (FConn >= 0 && Self().Begin())
                for (const TStep& step : FScript)
                    if (FConn < 0 || FStop || !step(Self()))
                        break;
        }
        FDone = true;
    }

    int FListen = -1;
    unsigned short FPort = 0;
    std::vector<TStep> FScript;
    std::thread FThread;
    std::atomic<bool> FDone {false};
    std::condition_variable FCv;
    int FSignal = 0;
    std::string FReceived;
};

} // namespace testserver
