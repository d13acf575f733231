#include "platform/EventLoop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

// Messages dispatched between two polls of timers and descriptors while the
// queue stays busy.
constexpr unsigned PollEvery = 64;
constexpr std::size_t InitialRing = 64;
constexpr int MaxEventsPerPoll = 32;

std::uint64_t MonotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::uint32_t EpollMask(unsigned events, bool ended)
{
    std::uint32_t mask = EPOLLONESHOT;
    if (!ended)
        mask |= EPOLLRDHUP;
    if (events & FdRead)
        mask |= EPOLLIN;
    if (events & FdWrite)
        mask |= EPOLLOUT;
    return mask;
}

unsigned FdEvents(std::uint32_t epollEvents)
{
    unsigned events = 0;
    if (epollEvents & EPOLLIN)
        events |= FdRead;
    if (epollEvents & EPOLLOUT)
        events |= FdWrite;
    if (epollEvents & EPOLLERR)
        events |= FdError;
    if (epollEvents & (EPOLLHUP | EPOLLRDHUP))
        events |= FdHangUp;
    return events;
}

[[noreturn]] void ThrowErrno(int err)
{
    throw EEventLoopError(SystemErrorFromErrno(err));
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
    , FThread(std::this_thread::get_id())
{
    FEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (FEpoll < 0)
        ThrowErrno(errno);
    FWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWake < 0) {
        int err = errno;
        close(FEpoll);
        ThrowErrno(err);
    }
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.fd = FWake;
    if (epoll_ctl(FEpoll, EPOLL_CTL_ADD, FWake, &ev) != 0) {
        int err = errno;
        close(FWake);
        close(FEpoll);
        ThrowErrno(err);
    }
}

TEventLoop::~TEventLoop()
{
    close(FWake);
    close(FEpoll);
}

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
        WakeUp();
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

// Turns due timers and ready descriptors into queued messages; sleeps up to
// timeoutMs when nothing is queued.
void TEventLoop::Poll(int timeoutMs)
{
    int timeout = 0;
    {
        std::lock_guard lock(FLock);
        std::uint64_t now = FTimers.empty() ? 0 : MonotonicMs();
        QueueDueTimersLocked(now);
        if (FCount == 0 && timeoutMs != 0) {
            timeout = TimeoutLocked(timeoutMs, now);
            FWaiting = timeout != 0;
        }
        if (timeout == 0 && FWatches.empty())
            return;
    }
    epoll_event events[MaxEventsPerPoll];
    int n = epoll_wait(FEpoll, events, MaxEventsPerPoll, timeout);
    std::lock_guard lock(FLock);
    FWaiting = false;
    for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        if (fd == FWake) {
            DrainWake();
            continue;
        }
        ReportLocked(fd, events[i].events);
    }
    if (!FTimers.empty())
        QueueDueTimersLocked(MonotonicMs());
}

// The descriptor is disabled once it has reported (one-shot); it is armed
// again for the kinds still to be reported, and for hang-up until that came.
void TEventLoop::ReportLocked(int fd, std::uint32_t epollEvents)
{
    auto it = FWatches.find(fd);
    if (it == FWatches.end())
        return;
    TFdWatch& watch = it->second;
    unsigned ready = FdEvents(epollEvents);
    unsigned deliver = ready & watch.Armed;
    if (!watch.Ended)
        deliver |= ready & (FdError | FdHangUp);
    if (deliver == 0)
        return; // a lasting error or hang-up already reported: stay disabled
    watch.Armed &= ~deliver;
    watch.Ended = watch.Ended || (deliver & (FdError | FdHangUp)) != 0;
    TMessage ready_message;
    ready_message.Msg = watch.Msg;
    ready_message.WParam = static_cast<std::uintptr_t>(fd);
    ready_message.LParam = static_cast<std::intptr_t>(deliver | (ready & (FdError | FdHangUp)));
    PushLocked(TEntry { watch.Window, ready_message, EKind::Readiness });
    if (watch.Armed != 0 || !watch.Ended)
        ArmLocked(fd, watch, EPOLL_CTL_MOD);
}

int TEventLoop::ArmLocked(int fd, const TFdWatch& watch, int op)
{
    epoll_event ev {};
    ev.events = EpollMask(watch.Armed, watch.Ended);
    ev.data.fd = fd;
    if (epoll_ctl(FEpoll, op, fd, &ev) == 0)
        return 0;
    // A descriptor closed and reopened under the same number left the set.
    if (op == EPOLL_CTL_MOD && errno == ENOENT && epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &ev) == 0)
        return 0;
    return errno;
}

void TEventLoop::DrainWake()
{
    std::uint64_t value = 0;
    while (read(FWake, &value, sizeof value) > 0) {
    }
}

void TEventLoop::WakeUp()
{
    std::uint64_t one = 1;
    // EAGAIN means the counter is already far from zero: the loop wakes anyway.
    while (write(FWake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TEventLoop::ForgetWindow(TMessageWindow* window)
{
    std::lock_guard lock(FLock);
    window->FAlive = false;
    RemoveLocked([window](const TEntry& e) { return e.Target == window; });
    std::erase_if(FTimers, [window](const TTimer& t) { return t.Window == window; });
    for (auto it = FWatches.begin(); it != FWatches.end();) {
        if (it->second.Window == window) {
            epoll_ctl(FEpoll, EPOLL_CTL_DEL, it->first, nullptr);
            it = FWatches.erase(it);
        } else {
            ++it;
        }
    }
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
        WakeUp();
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

int TEventLoop::AsyncSelect(TMessageWindow* window, int fd, std::uint32_t msg, unsigned events)
{
    std::lock_guard lock(FLock);
    auto it = FWatches.find(fd);
    if (events == 0) {
        if (it == FWatches.end())
            return 0;
        epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
        FWatches.erase(it);
        RemoveLocked([&](const TEntry& e) {
            return e.Kind == EKind::Readiness && e.Target == window && e.Message.WParam == static_cast<std::uintptr_t>(fd);
        });
        return 0;
    }
    if (!window->FAlive)
        return EBADF;
    TFdWatch watch { window, msg, events, events, false };
    if (int err = ArmLocked(fd, watch, it == FWatches.end() ? EPOLL_CTL_ADD : EPOLL_CTL_MOD))
        return err;
    FWatches[fd] = watch;
    return 0;
}

int TEventLoop::ReenableSelect(TMessageWindow* window, int fd, unsigned events)
{
    std::lock_guard lock(FLock);
    auto it = FWatches.find(fd);
    if (it == FWatches.end() || it->second.Window != window)
        return ENOENT;
    TFdWatch& watch = it->second;
    unsigned more = events & watch.Mask & ~watch.Armed;
    if (more == 0)
        return 0;
    watch.Armed |= more;
    return ArmLocked(fd, watch, EPOLL_CTL_MOD);
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

int TMessageWindow::AsyncSelect(int fd, std::uint32_t msg, unsigned events)
{
    return FLoop->AsyncSelect(this, fd, msg, events);
}

int TMessageWindow::ReenableSelect(int fd, unsigned events)
{
    return FLoop->ReenableSelect(this, fd, events);
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
