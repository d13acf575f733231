#pragma once
// A one-connection SMTP server on 127.0.0.1 that replays a fixed dialogue on
// its own thread (blocking sockets) and records every line the client sent.
// Every wait is bounded, so a client that stays silent cannot hang a test.

#include "../LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace smtptest {

class TScriptedServer {
public:
    enum class EStep { Send, Expect, ExpectData, Close, WaitClose, Hold };
    struct TStep {
        EStep Kind;
        std::string Text; // bytes to send
    };

    static constexpr int WaitMs = 10000;

    TScriptedServer()
    {
        std::uint16_t port = 0;
        FListen = OpenLoopbackListener(4, port);
        FPort = port;
    }

    ~TScriptedServer()
    {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
            FDoneCv.notify_all();
        }
        if (FThread.joinable())
            FThread.join();
        if (FConn >= 0)
            ::close(FConn);
        ::close(FListen);
    }

    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    // Script building, before Start.
    TScriptedServer& Send(const std::string& text) { return Add(EStep::Send, text); }
    // Sends each text followed by CR LF.
    TScriptedServer& Lines(std::initializer_list<std::string> lines)
    {
        for (const auto& line : lines)
            Send(line + "\r\n");
        return *this;
    }
    // Waits for one line from the client and records it.
    TScriptedServer& Expect() { return Add(EStep::Expect, {}); }
    // Records the message lines up to and including the final "."; a client
    // that goes away before it ends the script there.
    TScriptedServer& ExpectData() { return Add(EStep::ExpectData, {}); }
    TScriptedServer& Close() { return Add(EStep::Close, {}); }
    // Waits until the client closes (or the wait ends).
    TScriptedServer& WaitClose() { return Add(EStep::WaitClose, {}); }
    // Waits until the test calls Release (or the wait ends).
    TScriptedServer& Hold() { return Add(EStep::Hold, {}); }

    void Release()
    {
        std::lock_guard lock(FMutex);
        FReleased = true;
        FDoneCv.notify_all();
    }

    void Start()
    {
        FThread = std::thread([this] { Run(); });
    }

    std::string PortText() const { return std::to_string(FPort); }

    std::vector<std::string> Received() const
    {
        std::lock_guard lock(FMutex);
        return FReceived;
    }

    // Waits (bounded) until the script has run to its end.
    bool WaitDone()
    {
        std::unique_lock lock(FMutex);
        return FDoneCv.wait_for(lock, std::chrono::milliseconds(WaitMs), [this] { return FDone; });
    }

    bool Done() const
    {
        std::lock_guard lock(FMutex);
        return FDone;
    }

private:
    TScriptedServer& Add(EStep kind, std::string text)
    {
        FScript.push_back({kind, std::move(text)});
        return *this;
    }

    // Polls in short slices so that the destructor's stop flag is seen.
    bool WaitReadable(int fd)
    {
        for (int waited = 0; waited < WaitMs && !FStop; waited += 20) {
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }

    bool ReadLine(std::string& line)
    {
        line.clear();
        while (true) {
            const std::size_t end = FPending.find("\r\n");
            if (end != std::string::npos) {
                line = FPending.substr(0, end);
                FPending.erase(0, end + 2);
                return true;
            }
            if (!WaitReadable(FConn))
                return false;
            char buffer[4096];
            const ssize_t n = ::recv(FConn, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            FPending.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Reads and records one line; none when the client has gone or stays silent.
    std::optional<std::string> ReceiveLine()
    {
        std::string line;
        if (!ReadLine(line))
            return std::nullopt;
        std::lock_guard lock(FMutex);
        FReceived.push_back(line);
        return line;
    }

    void WaitPeerClose()
    {
        char buffer[4096];
        while (WaitReadable(FConn) && ::recv(FConn, buffer, sizeof buffer, 0) > 0) {
        }
    }

    void Run()
    {
        if (WaitReadable(FListen)) {
            FConn = ::accept(FListen, nullptr, nullptr);
            if (FConn >= 0)
                RunScript();
        }
        std::lock_guard lock(FMutex);
        FDone = true;
        FDoneCv.notify_all();
    }

    void RunScript()
    {
        for (const TStep& step : FScript) {
            switch (step.Kind) {
            case EStep::Send:
                if (::send(FConn, step.Text.data(), step.Text.size(), MSG_NOSIGNAL) < 0)
                    return;
                break;
            case EStep::Expect:
                if (!ReceiveLine().has_value())
                    return;
                break;
            case EStep::ExpectData:
                for (;;) {
                    const std::optional<std::string> line = ReceiveLine();
                    if (!line)
                        return;
                    if (*line == ".")
                        break;
                }
                break;
            case EStep::Close:
                ::close(FConn);
                FConn = -1;
                return;
            case EStep::WaitClose:
                WaitPeerClose();
                break;
            case EStep::Hold: {
                std::unique_lock lock(FMutex);
                FDoneCv.wait_for(lock, std::chrono::milliseconds(WaitMs), [this] { return FReleased || FStop; });
                break;
            }
            }
        }
    }

    int FListen = -1;
    int FConn = -1;
    unsigned short FPort = 0;
    std::vector<TStep> FScript;
    std::string FPending;
    std::thread FThread;
    std::atomic<bool> FStop {false};
    mutable std::mutex FMutex;
    std::condition_variable FDoneCv;
    std::vector<std::string> FReceived;
    bool FDone = false;
    bool FReleased = false;
};

} // namespace smtptest
