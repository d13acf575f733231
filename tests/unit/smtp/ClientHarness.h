#pragma once
// What SMTP client tests share: the report record and a bounded message pump.

#include "platform/EventLoop.h"
#include "smtp/SmtpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace smtptest {

struct TDone {
    smtp::TSmtpRequest Request;
    std::uint16_t Code;
    bool operator==(const TDone&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const TDone& done)
{
    return os << "{request " << done.Request << ", code " << done.Code << "}";
}

// The reports and texts a client hands to its events.
struct TClientEvents {
    std::vector<TDone> Dones;
    std::vector<std::string> Display, Commands, Responses;

    void Record(smtp::TCustomSmtpClient& client)
    {
        client.OnRequestDone = [this](smtp::TCustomSmtpClient&, smtp::TSmtpRequest rq, std::uint16_t code) {
            Dones.push_back({rq, code});
        };
        client.OnDisplay = [this](smtp::TCustomSmtpClient&, const std::string& msg) { Display.push_back(msg); };
        client.OnCommand = [this](smtp::TCustomSmtpClient&, const std::string& msg) { Commands.push_back(msg); };
        client.OnResponse = [this](smtp::TCustomSmtpClient&, const std::string& msg) { Responses.push_back(msg); };
    }
};

// Dispatches everything queued now, without waiting.
inline void DrainQueue()
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (loop.PeekMessage(message))
        platform::TEventLoop::DispatchMessage(message);
}

// Pumps the message loop until pred holds or the bounded wait ends.
inline bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 10000)
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        loop.WaitMessage(static_cast<int>(std::min<long long>(left.count(), 50)));
        DrainQueue();
    }
    return true;
}

// Runs one request to its single completion and returns the report.
inline TDone RunRequest(TClientEvents& events, const std::function<void()>& request)
{
    const std::size_t before = events.Dones.size();
    request();
    EXPECT_EQ(events.Dones.size(), before) << "reported from inside the call";
    EXPECT_TRUE(RunUntil([&] { return events.Dones.size() > before; }));
    DrainQueue();
    EXPECT_EQ(events.Dones.size(), before + 1) << "reported more than once";
    return events.Dones.size() > before ? events.Dones[before] : TDone {smtp::smtpCustom, 0xFFFF};
}

// The lines after "DATA" that a server recorded.
inline std::vector<std::string> AfterData(const std::vector<std::string>& received)
{
    const auto data = std::find(received.begin(), received.end(), "DATA");
    return data == received.end() ? std::vector<std::string> {} : std::vector<std::string>(data + 1, received.end());
}

// What a server got after DATA, back in message form: the final "." is
// dropped and doubled leading dots are undone.
inline std::string UnstuffMessage(std::vector<std::string> wire)
{
    EXPECT_FALSE(wire.empty());
    EXPECT_EQ(wire.back(), ".");
    wire.pop_back();
    std::string text;
    for (const auto& line : wire)
        text += (line.starts_with("..") ? line.substr(1) : line) + "\r\n";
    return text;
}

} // namespace smtptest
