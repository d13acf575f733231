#pragma once
// Per-thread message queue: the stand-in for hidden windows, posted messages,
// window timers and socket readiness notification.
//
// Every thread that creates a TMessageWindow gets one TEventLoop. Messages are
// posted to a window from any thread and dispatched, in posting order, on the
// loop's thread by whoever pumps it (PeekMessage / GetMessage + DispatchMessage).
// Window timers and descriptor readiness are turned into queued messages too, so
// they share the order and the removal rules of posted messages.

#include "platform/Sockets.h"
#include "platform/SystemError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

// Message numbers with a fixed meaning; numbers from MsgUser up are free for
// the application, RegisterWindowMessage hands out numbers from 0xC000.
constexpr std::uint32_t MsgQuit = 18;
constexpr std::uint32_t MsgTimer = 275;
constexpr std::uint32_t MsgUser = 1024;

struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

// Readiness kinds asked for with AsyncSelect. A readiness message carries the
// socket in WParam and the kinds that are ready in LParam (FdError and
// FdHangUp are always reported, asked for or not).
enum TFdEvent : unsigned {
    FdRead = 1,
    FdWrite = 2,
    FdError = 4,
    FdHangUp = 8,
};

// The loop's own descriptors could not be set up (or another system call of
// the loop failed); Error holds the system's code and text.
class EEventLoopError : public std::runtime_error {
public:
    explicit EEventLoopError(const SystemError& error);
    SystemError Error;
};

class TMessageWindow;
class TPoller;
struct TPollItem;

// One message taken from the queue. Window is empty for a thread message (quit).
struct TQueuedMessage {
    std::shared_ptr<TMessageWindow> Window;
    TMessage Message;
};

class TEventLoop {
    struct TPassKey {};

public:
    explicit TEventLoop(TPassKey);
    ~TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // The calling thread's loop, created on first use (EEventLoopError on failure).
    static TEventLoop& Current();
    static std::shared_ptr<TEventLoop> CurrentShared();

    // Loop thread only. Takes the next message without waiting; false when none
    // is queued. Timers and descriptors are polled when the queue runs dry and
    // every few dozen messages, so a busy queue does not starve them.
    bool PeekMessage(TQueuedMessage& out);
    // Loop thread only. Waits for the next message; false when it is the quit message.
    bool GetMessage(TQueuedMessage& out);
    // Loop thread only. Returns when a message is queued or after timeoutMs
    // milliseconds (-1: no limit).
    void WaitMessage(int timeoutMs);
    static void DispatchMessage(const TQueuedMessage& message);

    // Queues the quit message for this loop (any thread).
    void PostQuitMessage();

    std::size_t QueuedCount() const;
    // True while the loop thread sleeps in the system (observers only).
    bool Waiting() const;
    std::thread::id ThreadId() const { return FThread; }

private:
    friend class TMessageWindow;
    enum class EKind : std::uint8_t { Posted, Timer, Readiness, Quit };
    struct TEntry {
        TMessageWindow* Target = nullptr;
        TMessage Message;
        EKind Kind = EKind::Posted;
    };
    struct TFdWatch {
        TMessageWindow* Window = nullptr;
        std::uint32_t Msg = 0;
        unsigned Mask = 0;  // kinds selected
        unsigned Armed = 0; // kinds that may be reported now
        bool Ended = false; // error or hang-up reported
        // Watched by the system; a report stops the watch until the socket
        // is armed again, so a lasting condition is not reported over and over.
        bool Listening = true;
    };
    struct TTimer {
        TMessageWindow* Window = nullptr;
        std::uintptr_t Id = 0;
        std::uint32_t Interval = 0;
        std::uint64_t Due = 0;
        bool Pending = false;
    };

    bool Post(TMessageWindow* target, const TMessage& message, EKind kind);
    // Lock held by the caller for the following.
    void PushLocked(const TEntry& entry);
    TEntry PopLocked();
    void RemoveLocked(const std::function<bool(const TEntry&)>& match);
    void SettleLocked(const TEntry& entry);
    void QueueDueTimersLocked(std::uint64_t now);
    int TimeoutLocked(int timeoutMs, std::uint64_t now) const;
    TTimer* FindTimerLocked(const TMessageWindow* window, std::uintptr_t id);

    void Poll(int timeoutMs);

    // Called by TMessageWindow.
    void ForgetWindow(TMessageWindow* window);
    bool SetTimer(TMessageWindow* window, std::uintptr_t id, std::uint32_t intervalMs);
    bool KillTimer(TMessageWindow* window, std::uintptr_t id);
    int AsyncSelect(TMessageWindow* window, TSocketHandle socket, std::uint32_t msg, unsigned events);
    int ReenableSelect(TMessageWindow* window, TSocketHandle socket, unsigned events);
    void ReportLocked(TSocketHandle socket, unsigned ready);
    std::size_t TimerCount(const TMessageWindow* window) const;

    mutable std::mutex FLock;
    std::vector<TEntry> FRing; // capacity is a power of two
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    bool FWaiting = false;
    unsigned FSincePoll = 0;
    std::unordered_map<TSocketHandle, TFdWatch> FWatches;
    std::vector<TTimer> FTimers;
    std::unique_ptr<TPoller> FPoller;
    std::vector<TPollItem> FPollItems; // loop thread only
    std::thread::id FThread;
};

// A dispatch target bound to the loop of the thread that created it (the
// hidden window). Message numbers only need to be unique per window.
class TMessageWindow : public std::enable_shared_from_this<TMessageWindow> {
    struct TPassKey {};

public:
    using TProc = std::function<void(const TMessage&)>;

    TMessageWindow(TPassKey, std::shared_ptr<TEventLoop> loop, TProc proc);
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    // Creates a window on the calling thread's loop; proc receives its messages.
    static std::shared_ptr<TMessageWindow> Create(TProc proc);

    // Any thread. False when the window has been destroyed.
    bool Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // Drops queued messages with this number (and this WParam).
    void RemoveMessages(std::uint32_t msg);
    void RemoveMessages(std::uint32_t msg, std::uintptr_t wParam);

    // Periodic MsgTimer messages with WParam = id; at most one is queued per
    // timer. Setting an existing id restarts it. KillTimer also drops a queued
    // tick. SetTimer is false on a destroyed window.
    bool SetTimer(std::uintptr_t id, std::uint32_t intervalMs);
    bool KillTimer(std::uintptr_t id);
    std::size_t TimerCount() const;

    // Readiness of a socket as message msg, the way WSAAsyncSelect reports
    // it: each asked-for kind (FdRead, FdWrite) is reported once and then
    // rests until ReenableSelect asks for it again (after a read, or after a
    // write that would block); FdError and FdHangUp are reported once per
    // selection. events 0 cancels and drops queued readiness messages of the
    // socket; cancel before closing it. Returns 0 or a Windows Sockets number.
    int AsyncSelect(TSocketHandle socket, std::uint32_t msg, unsigned events);
    int ReenableSelect(TSocketHandle socket, unsigned events);

    // Stops all delivery: queued messages, timers and selections go. Idempotent,
    // safe inside the window's own dispatch.
    void Destroy();
    bool Alive() const;
    std::thread::id ThreadId() const { return FLoop->ThreadId(); }
    TEventLoop& Loop() const { return *FLoop; }

    void Dispatch(const TMessage& message) { FProc(message); }

private:
    friend class TEventLoop;
    std::shared_ptr<TEventLoop> FLoop;
    TProc FProc;
    bool FAlive = true; // guarded by the loop's lock
};

// A process-wide message number for a name: the same name gives the same
// number, from 0xC000 up; 0 when the numbers are used up.
std::uint32_t RegisterWindowMessage(const std::string& name);

} // namespace platform
