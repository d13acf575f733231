#pragma once
// A one-connection SMTP server on 127.0.0.1 that replays a fixed dialogue on
// its own thread (blocking sockets) and records every line the client sent.
// Every wait is bounded, so a client that stays silent cannot hang a test.

#include "../LoopbackListener.h"

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
        if (FConn != platform::InvalidSocket)
            platform::SocketClose(FConn);
        platform::SocketClose(FListen);
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
    bool WaitReadable(platform::TSocketHandle socket)
    {
        for (int waited = 0; waited < WaitMs && !FStop; waited += 20)
            if (platform::SocketWaitReadable(socket, 20))
                return true;
        return false;
    }

    long Recv(char* buffer, std::size_t size)
    {
        int err = 0;
        return platform::SocketRecv(FConn, buffer, size, err);
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
            const long n = Recv(buffer, sizeof buffer);
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
        while (WaitReadable(FConn) && Recv(buffer, sizeof buffer) > 0) {
        }
    }

    void Run()
    {
        if (WaitReadable(FListen)) {
            int err = 0;
            FConn = platform::SocketAccept(FListen, err);
            if (FConn != platform::InvalidSocket)
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
                if (!SendAll(FConn, step.Text))
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
                platform::SocketClose(FConn);
                FConn = platform::InvalidSocket;
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

    platform::TSocketHandle FListen = platform::InvalidSocket;
    platform::TSocketHandle FConn = platform::InvalidSocket;
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
