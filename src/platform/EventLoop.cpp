#include "platform/EventLoop.h"

#include "platform/Poller.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace platform {

namespace {

// Messages dispatched between two polls of timers and descriptors while the
// queue stays busy.
constexpr unsigned PollEvery = 64;
constexpr std::size_t InitialRing = 64;

std::uint64_t MonotonicMs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

EEventLoopError::EEventLoopError(const SystemError& error)
    : std::runtime_error(error.Message)
    , Error(error)
{
}

// ---------------------------------------------------------------- TEventLoop

TEventLoop::TEventLoop(TPassKey)
    : FRing(InitialRing)
    , FPoller(std::make_unique<TPoller>())
    , FThread(std::this_thread::get_id())
{
}

TEventLoop::~TEventLoop() = default;

std::shared_ptr<TEventLoop> TEventLoop::CurrentShared()
{
    // Windows keep their loop alive, so a loop outlives its thread only as
    // long as one of its windows does.
    thread_local std::shared_ptr<TEventLoop> loop;
    if (!loop)
        loop = std::make_shared<TEventLoop>(TPassKey {});
    return loop;
}

TEventLoop& TEventLoop::Current()
{
    return *CurrentShared();
}

bool TEventLoop::PeekMessage(TQueuedMessage& out)
{
    for (;;) {
        std::unique_lock lock(FLock);
        if (FCount == 0 || FSincePoll >= PollEvery) {
            lock.unlock();
            FSincePoll = 0;
            Poll(0);
            lock.lock();
            if (FCount == 0)
                return false;
        }
        ++FSincePoll;
        TEntry entry = PopLocked();
        out.Message = entry.Message;
        if (entry.Kind == EKind::Quit) {
            out.Window.reset();
            return true;
        }
        // A window whose last owner is letting go right now gets nothing more.
        out.Window = entry.Target->weak_from_this().lock();
        if (out.Window)
            return true;
    }
}

bool TEventLoop::GetMessage(TQueuedMessage& out)
{
    while (!PeekMessage(out))
        WaitMessage(-1);
    return out.Window || out.Message.Msg != MsgQuit;
}

void TEventLoop::WaitMessage(int timeoutMs)
{
    Poll(timeoutMs);
}

void TEventLoop::DispatchMessage(const TQueuedMessage& message)
{
    if (message.Window)
        message.Window->Dispatch(message.Message);
}

void TEventLoop::PostQuitMessage()
{
    TMessage quit;
    quit.Msg = MsgQuit;
    Post(nullptr, quit, EKind::Quit);
}

std::size_t TEventLoop::QueuedCount() const
{
    std::lock_guard lock(FLock);
    return FCount;
}

bool TEventLoop::Waiting() const
{
    std::lock_guard lock(FLock);
    return FWaiting;
}

bool TEventLoop::Post(TMessageWindow* target, const TMessage& message, EKind kind)
{
    bool wake = false;
    {
        std::lock_guard lock(FLock);
        if (target && !target->FAlive)
            return false;
        PushLocked(TEntry { target, message, kind });
        wake = FWaiting;
        FWaiting = false;
    }
    if (wake)
        FPoller->Wake();
    return true;
}

void TEventLoop::PushLocked(const TEntry& entry)
{
    if (FCount == FRing.size()) {
        std::vector<TEntry> bigger(FRing.size() * 2);
        for (std::size_t i = 0; i < FCount; ++i)
            bigger[i] = FRing[(FHead + i) & (FRing.size() - 1)];
        FRing.swap(bigger);
        FHead = 0;
    }
    FRing[(FHead + FCount) & (FRing.size() - 1)] = entry;
    ++FCount;
}

TEventLoop::TEntry TEventLoop::PopLocked()
{
    TEntry entry = FRing[FHead];
    FHead = (FHead + 1) & (FRing.size() - 1);
    --FCount;
    SettleLocked(entry);
    return entry;
}

// A timer tick that leaves the queue lets its timer queue the next one.
void TEventLoop::SettleLocked(const TEntry& entry)
{
    if (entry.Kind == EKind::Timer) {
        if (TTimer* timer = FindTimerLocked(entry.Target, entry.Message.WParam))
            timer->Pending = false;
    }
}

void TEventLoop::RemoveLocked(const std::function<bool(const TEntry&)>& match)
{
    const std::size_t mask = FRing.size() - 1;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < FCount; ++i) {
        const TEntry& entry = FRing[(FHead + i) & mask];
        if (match(entry))
            SettleLocked(entry);
        else
            FRing[(FHead + kept++) & mask] = entry;
    }
    FCount = kept;
}

TEventLoop::TTimer* TEventLoop::FindTimerLocked(const TMessageWindow* window, std::uintptr_t id)
{
    for (TTimer& timer : FTimers)
        if (timer.Window == window && timer.Id == id)
            return &timer;
    return nullptr;
}

void TEventLoop::QueueDueTimersLocked(std::uint64_t now)
{
    for (TTimer& timer : FTimers) {
        if (timer.Pending || now < timer.Due)
            continue;
        TMessage tick;
        tick.Msg = MsgTimer;
        tick.WParam = timer.Id;
        PushLocked(TEntry { timer.Window, tick, EKind::Timer });
        timer.Pending = true;
        timer.Due = now + timer.Interval;
    }
}

int TEventLoop::TimeoutLocked(int timeoutMs, std::uint64_t now) const
{
    std::uint64_t limit = timeoutMs < 0 ? UINT64_MAX : static_cast<std::uint64_t>(timeoutMs);
    for (const TTimer& timer : FTimers)
        if (!timer.Pending)
            limit = std::min(limit, timer.Due > now ? timer.Due - now : 0);
    return limit > INT_MAX ? -1 : static_cast<int>(limit);
}

// Turns due timers and ready sockets into queued messages; sleeps up to
// timeoutMs when nothing is queued.
void TEventLoop::Poll(int timeoutMs)
{
    int timeout = 0;
    FPollItems.clear();
    {
        std::lock_guard lock(FLock);
        std::uint64_t now = FTimers.empty() ? 0 : MonotonicMs();
        QueueDueTimersLocked(now);
        if (FCount == 0 && timeoutMs != 0) {
            timeout = TimeoutLocked(timeoutMs, now);
            FWaiting = timeout != 0;
        }
        for (const auto& [socket, watch] : FWatches)
            if (watch.Listening)
                FPollItems.push_back(TPollItem {socket, watch.Armed, !watch.Ended, 0});
        if (timeout == 0 && FPollItems.empty())
            return;
    }
    FPoller->Wait(FPollItems, timeout);
    std::lock_guard lock(FLock);
    FWaiting = false;
    for (const TPollItem& item : FPollItems)
        if (item.Ready != 0)
            ReportLocked(item.Socket, item.Ready);
    if (!FTimers.empty())
        QueueDueTimersLocked(MonotonicMs());
}

// A socket rests once it has reported (one-shot); it listens again for the
// kinds still to be reported, and for hang-up until that came.
void TEventLoop::ReportLocked(TSocketHandle socket, unsigned ready)
{
    auto it = FWatches.find(socket);
    if (it == FWatches.end())
        return;
    TFdWatch& watch = it->second;
    watch.Listening = false;
    unsigned deliver = ready & watch.Armed;
    if (!watch.Ended)
        deliver |= ready & (FdError | FdHangUp);
    if (deliver == 0)
        return; // a lasting error or hang-up already reported: stay at rest
    watch.Armed &= ~deliver;
    watch.Ended = watch.Ended || (deliver & (FdError | FdHangUp)) != 0;
    TMessage ready_message;
    ready_message.Msg = watch.Msg;
    ready_message.WParam = socket;
    ready_message.LParam = static_cast<std::intptr_t>(deliver | (ready & (FdError | FdHangUp)));
    PushLocked(TEntry { watch.Window, ready_message, EKind::Readiness });
    watch.Listening = watch.Armed != 0 || !watch.Ended;
}

void TEventLoop::ForgetWindow(TMessageWindow* window)
{
    std::lock_guard lock(FLock);
    window->FAlive = false;
    RemoveLocked([window](const TEntry& e) { return e.Target == window; });
    std::erase_if(FTimers, [window](const TTimer& t) { return t.Window == window; });
    std::erase_if(FWatches, [window](const auto& entry) { return entry.second.Window == window; });
}

bool TEventLoop::SetTimer(TMessageWindow* window, std::uintptr_t id, std::uint32_t intervalMs)
{
    std::uint32_t interval = std::max<std::uint32_t>(intervalMs, 1);
    std::lock_guard lock(FLock);
    if (!window->FAlive)
        return false;
    std::uint64_t due = MonotonicMs() + interval;
    if (TTimer* timer = FindTimerLocked(window, id)) {
        timer->Interval = interval;
        timer->Due = due;
    } else {
        FTimers.push_back(TTimer { window, id, interval, due, false });
    }
    // The poster may be another thread while the loop sleeps with an older deadline.
    bool wake = FWaiting;
    FWaiting = false;
    if (wake)
        FPoller->Wake();
    return true;
}

bool TEventLoop::KillTimer(TMessageWindow* window, std::uintptr_t id)
{
    std::lock_guard lock(FLock);
    auto found = std::erase_if(FTimers, [&](const TTimer& t) { return t.Window == window && t.Id == id; });
    RemoveLocked([&](const TEntry& e) {
        return e.Kind == EKind::Timer && e.Target == window && e.Message.WParam == id;
    });
    return found > 0;
}

std::size_t TEventLoop::TimerCount(const TMessageWindow* window) const
{
    std::lock_guard lock(FLock);
    return static_cast<std::size_t>(
        std::count_if(FTimers.begin(), FTimers.end(), [window](const TTimer& t) { return t.Window == window; }));
}

int TEventLoop::AsyncSelect(TMessageWindow* window, TSocketHandle socket, std::uint32_t msg, unsigned events)
{
    std::lock_guard lock(FLock);
    if (events == 0) {
        if (FWatches.erase(socket) == 0)
            return 0;
        RemoveLocked([&](const TEntry& e) {
            return e.Kind == EKind::Readiness && e.Target == window && e.Message.WParam == socket;
        });
        return 0;
    }
    if (!window->FAlive)
        return WsaEBADF;
    FWatches[socket] = TFdWatch { window, msg, events, events, false, true };
    return 0;
}

int TEventLoop::ReenableSelect(TMessageWindow* window, TSocketHandle socket, unsigned events)
{
    std::lock_guard lock(FLock);
    auto it = FWatches.find(socket);
    if (it == FWatches.end() || it->second.Window != window)
        return WsaEINVAL;
    TFdWatch& watch = it->second;
    unsigned more = events & watch.Mask & ~watch.Armed;
    if (more == 0)
        return 0;
    watch.Armed |= more;
    watch.Listening = true;
    return 0;
}

// ------------------------------------------------------------ TMessageWindow

TMessageWindow::TMessageWindow(TPassKey, std::shared_ptr<TEventLoop> loop, TProc proc)
    : FLoop(std::move(loop))
    , FProc(std::move(proc))
{
}

TMessageWindow::~TMessageWindow()
{
    Destroy();
}

std::shared_ptr<TMessageWindow> TMessageWindow::Create(TProc proc)
{
    return std::make_shared<TMessageWindow>(TPassKey {}, TEventLoop::CurrentShared(), std::move(proc));
}

bool TMessageWindow::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    return FLoop->Post(this, TMessage { msg, wParam, lParam }, TEventLoop::EKind::Posted);
}

void TMessageWindow::RemoveMessages(std::uint32_t msg)
{
    std::lock_guard lock(FLoop->FLock);
    FLoop->RemoveLocked([&](const TEventLoop::TEntry& e) { return e.Target == this && e.Message.Msg == msg; });
}

void TMessageWindow::RemoveMessages(std::uint32_t msg, std::uintptr_t wParam)
{
    std::lock_guard lock(FLoop->FLock);
    FLoop->RemoveLocked([&](const TEventLoop::TEntry& e) {
        return e.Target == this && e.Message.Msg == msg && e.Message.WParam == wParam;
    });
}

bool TMessageWindow::SetTimer(std::uintptr_t id, std::uint32_t intervalMs)
{
    return FLoop->SetTimer(this, id, intervalMs);
}

bool TMessageWindow::KillTimer(std::uintptr_t id)
{
    return FLoop->KillTimer(this, id);
}

std::size_t TMessageWindow::TimerCount() const
{
    return FLoop->TimerCount(this);
}

int TMessageWindow::AsyncSelect(TSocketHandle socket, std::uint32_t msg, unsigned events)
{
    return FLoop->AsyncSelect(this, socket, msg, events);
}

int TMessageWindow::ReenableSelect(TSocketHandle socket, unsigned events)
{
    return FLoop->ReenableSelect(this, socket, events);
}

void TMessageWindow::Destroy()
{
    FLoop->ForgetWindow(this);
}

bool TMessageWindow::Alive() const
{
    std::lock_guard lock(FLoop->FLock);
    return FAlive;
}

// ------------------------------------------------------------------ messages

std::uint32_t RegisterWindowMessage(const std::string& name)
{
    static std::mutex lock;
    static std::unordered_map<std::string, std::uint32_t> numbers;
    constexpr std::uint32_t first = 0xC000, last = 0xFFFF;
    std::lock_guard guard(lock);
    auto it = numbers.find(name);
    if (it != numbers.end())
        return it->second;
    if (numbers.size() > last - first)
        return 0;
    std::uint32_t number = first + static_cast<std::uint32_t>(numbers.size());
    numbers.emplace(name, number);
    return number;
}

} // namespace platform
