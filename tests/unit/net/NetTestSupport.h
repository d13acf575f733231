#pragma once
// Components and pumps shared by the event-window and timer tests.

#include "net/KvWndControl.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

// A component with one message number of its own besides the release message.
class TProbe : public net::TKvWndControl {
public:
    std::uint32_t MsgData = 0;
    std::vector<platform::TMessage> Got;
    std::function<void(const platform::TMessage&)> OnData;
    int Aborts = 0;
    bool* DestroyedFlag = nullptr;

    ~TProbe() override
    {
        if (DestroyedFlag)
            *DestroyedFlag = true;
    }
    int MessageCount() const override { return TKvWndControl::MessageCount() + 1; }
    void AbortOnError() override { ++Aborts; }
    void FreeData() { FreeMessage(MsgData); }
    void TakeData() { MsgData = AllocateMessage(); }
    bool PostData(std::uintptr_t wParam = 0)
    {
        WindowHandle(); // MsgData exists once the window does
        return PostMessage(MsgData, wParam);
    }

    void WndProc(const platform::TMessage& msg) override
    {
        if (msg.Msg != MsgData || MsgData == 0) {
            TKvWndControl::WndProc(msg);
            return;
        }
        try {
            Got.push_back(msg);
            if (OnData)
                OnData(msg);
        } catch (const std::exception& e) {
            HandleBgException(e, "TProbe.WndProc");
        }
    }

protected:
    void AllocateMsgHandlers() override
    {
        TKvWndControl::AllocateMsgHandlers();
        TakeData();
    }
    void FreeMsgHandlers() override
    {
        FreeData();
        TKvWndControl::FreeMsgHandlers();
    }
};

// Runs fn on a new thread, which starts with no handlers and no loop of its own.
inline void OnFreshThread(const std::function<void()>& fn)
{
    std::thread(fn).join();
}

// Pumps the calling thread until done() or the time limit; false on time-out.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        loop.WaitMessage(static_cast<int>(std::min<long>(left.count(), 20)));
        platform::TQueuedMessage m;
        while (!done() && loop.PeekMessage(m))
            platform::TEventLoop::DispatchMessage(m);
    }
    return true;
}

// The text of the exception fn raises, empty when it raises none.
inline std::string ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Catches what reaches the application's exception display while it lives.
class TAppExceptions {
public:
    std::vector<std::string> Shown;
    TAppExceptions()
    {
        platform::TApplication::Instance().OnException = [this](const std::exception& e) { Shown.push_back(e.what()); };
    }
    ~TAppExceptions() { platform::TApplication::Instance().OnException = nullptr; }
};

} // namespace nettest
