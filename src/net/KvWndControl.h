#pragma once
// Base of every event-driven network component: binds the component to a
// message window of its thread, reserves its private message numbers there,
// routes those messages back to WndProc, offers message pumps, deferred
// self-destruction and one policy for exceptions escaping event handlers.

#include "platform/EventLoop.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace net {

class EKvException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TKvWndHandler;
class TKvWndHandlerPool;

class TKvWndControl {
public:
    using TBgExceptionEvent = std::function<void(TKvWndControl& sender, const std::exception& e, bool& canClose)>;
    using TPumpHook = std::function<void(TKvWndControl& sender)>;
    using TAbortHook = std::function<void()>;
    using TKvLogger = std::function<void(const std::string& line)>;

    TKvWndControl();
    virtual ~TKvWndControl();
    TKvWndControl(const TKvWndControl&) = delete;
    TKvWndControl& operator=(const TKvWndControl&) = delete;

    // The window, allocated on first use on the calling thread (EKvException
    // when that fails).
    platform::TMessageWindow* WindowHandle();
    bool HasWindow() const { return FWindow != nullptr; }
    // For threads that post to this component (a name-lookup thread): posting
    // through it fails quietly once the window is gone.
    std::weak_ptr<platform::TMessageWindow> WindowRef();
    std::thread::id OwnerThread() const { return FOwnerThread; }
    TKvWndHandler* Handler() const { return FHandler; }
    // Posts to this component's window (allocating it); false when refused.
    bool PostMessage(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    bool MultiThreaded() const { return FMultiThreaded; }
    virtual void SetMultiThreaded(bool value) { FMultiThreaded = value; }
    virtual bool Terminated() const { return FTerminated; }
    virtual void SetTerminated(bool value) { FTerminated = value; }
    const TPumpHook& MessagePumpHook() const { return FMessagePumpHook; }
    virtual void SetMessagePumpHook(TPumpHook hook) { FMessagePumpHook = std::move(hook); }
    const TBgExceptionEvent& OnBgException() const { return FOnBgException; }
    virtual void SetOnBgException(TBgExceptionEvent handler) { FOnBgException = std::move(handler); }
    // Set by an owning component: its own abort, run when a background
    // exception aborts this one.
    TAbortHook AbortHook;
    TKvLogger KvLogger;

    // Handles one message of this component's numbers. Overrides handle their
    // own numbers and pass the rest on.
    virtual void WndProc(const platform::TMessage& msg);
    // Called for every exception that escapes code run from a message.
    virtual void HandleBgException(const std::exception& e, const std::string& source);

    virtual void AllocateWindow();
    virtual void ReleaseWindow();
    // How many message numbers this class reserves (at most 100).
    virtual int MessageCount() const { return 1; }
    // The component's own abort after a background exception (nothing here).
    virtual void AbortOnError() {}

    // Takes over the component and destroys it once the message loop handles
    // the release message, so it may be called from the component's own handler.
    static void Release(std::unique_ptr<TKvWndControl> component);

    // Moving to another thread: DetachThread on the old one, AttachThread on the new.
    virtual void AttachThread();
    virtual void DetachThread();

    // Pumps of the calling thread's queue. They are re-entrant and stop when a
    // dispatched message destroyed this component.
    virtual void RunMessageLoop();
    virtual bool ProcessOneMessage();
    virtual void ProcessAllMessages();
    virtual void PumpMessages();

protected:
    virtual void TriggerBgException(const std::exception& e, bool& canClose);
    virtual void WMRelease(const platform::TMessage& msg);
    // Reserve and give back this class's numbers; overrides call the base first.
    virtual void AllocateMsgHandlers();
    virtual void FreeMsgHandlers();
    std::uint32_t AllocateMessage();
    void FreeMessage(std::uint32_t& msg);
    std::uint32_t MsgRelease() const { return FMsgRelease; }
    void Log(const std::string& line) const;

private:
    void ReleaseWindowOnce() noexcept;
    void LeaveHandler(TKvWndHandlerPool& pool, TKvWndHandler* handler);

    platform::TMessageWindow* FWindow = nullptr;
    TKvWndHandler* FHandler = nullptr;
    std::thread::id FOwnerThread;
    bool FTerminated = false;
    bool FMultiThreaded = false;
    bool FDestroyed = false;
    std::uint32_t FMsgRelease = 0;
    TPumpHook FMessagePumpHook;
    TBgExceptionEvent FOnBgException;
    std::unique_ptr<TKvWndControl> FSelf;      // set by Release until the release message
    std::shared_ptr<const bool> FLifeToken;    // expires with the component
};

} // namespace net
