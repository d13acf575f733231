#include "net/KvWndControl.h"

#include "net/KvWndHandler.h"
#include "platform/Application.h"

namespace net {

namespace {

enum class EPumped { Empty, Dispatched, Quit };

EPumped PumpOne(platform::TQueuedMessage& message)
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    if (!loop.PeekMessage(message))
        return EPumped::Empty;
    if (!message.Window && message.Message.Msg == platform::MsgQuit)
        return EPumped::Quit;
    platform::TEventLoop::DispatchMessage(message);
    return EPumped::Dispatched;
}

} // namespace

TKvWndControl::TKvWndControl()
    : FLifeToken(std::make_shared<const bool>(true))
{
    TKvWndHandlerPool::Instance();
}

TKvWndControl::~TKvWndControl()
{
    ReleaseWindowOnce();
}

void TKvWndControl::ReleaseWindowOnce() noexcept
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    try {
        ReleaseWindow();
    } catch (...) {
        // Nothing left to report to: the component is going.
    }
}

platform::TMessageWindow* TKvWndControl::WindowHandle()
{
    AllocateWindow();
    return FWindow;
}

std::weak_ptr<platform::TMessageWindow> TKvWndControl::WindowRef()
{
    return WindowHandle()->weak_from_this();
}

bool TKvWndControl::PostMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    platform::TMessageWindow* window = WindowHandle();
    return window && window->Post(msg, wParam, lParam);
}

void TKvWndControl::AllocateWindow()
{
    if (FWindow)
        return;
    if (KvUnitFinalized())
        throw EKvException("Unit is already finalized, check your threads!!!");
    TKvWndHandlerPool& pool = TKvWndHandlerPool::Instance();
    std::lock_guard lock(pool.Lock());
    std::thread::id thread = std::this_thread::get_id();
    TKvWndHandler* handler = pool.GetWindowHandler(MessageCount(), thread);
    try {
        FWindow = handler->EnsureWindow();
        FHandler = handler;
        FOwnerThread = thread;
        AllocateMsgHandlers();
    } catch (...) {
        LeaveHandler(pool, handler);
        throw;
    }
}

void TKvWndControl::ReleaseWindow()
{
    if (!FWindow)
        return;
    TKvWndHandlerPool& pool = TKvWndHandlerPool::Instance();
    std::lock_guard lock(pool.Lock());
    TKvWndHandler* handler = FHandler;
    FreeMsgHandlers();
    LeaveHandler(pool, handler);
}

// Pool lock held. Also gives back numbers of subclasses that are already
// destroyed when this runs from the destructor.
void TKvWndControl::LeaveHandler(TKvWndHandlerPool& pool, TKvWndHandler* handler)
{
    handler->FreeMessagesOf(this);
    if (handler->UsedCount() == 0)
        pool.FreeWindowHandler(handler);
    FWindow = nullptr;
    FHandler = nullptr;
    FOwnerThread = {};
}

void TKvWndControl::AllocateMsgHandlers()
{
    FMsgRelease = AllocateMessage();
}

void TKvWndControl::FreeMsgHandlers()
{
    FreeMessage(FMsgRelease);
}

std::uint32_t TKvWndControl::AllocateMessage()
{
    return FHandler->AllocateMessage(this);
}

void TKvWndControl::FreeMessage(std::uint32_t& msg)
{
    if (FHandler)
        FHandler->FreeMessage(msg);
}

void TKvWndControl::Log(const std::string& line) const
{
    if (KvLogger)
        KvLogger(line);
}

void TKvWndControl::WndProc(const platform::TMessage& msg)
{
    try {
        if (msg.Msg == FMsgRelease)
            WMRelease(msg);
    } catch (const std::exception& e) {
        HandleBgException(e, "TKvWndControl.WndProc");
    }
}

void TKvWndControl::WMRelease(const platform::TMessage&)
{
    // Leaving this scope destroys the component; the caller touches it no more.
    std::unique_ptr<TKvWndControl> self = std::move(FSelf);
}

void TKvWndControl::Release(std::unique_ptr<TKvWndControl> component)
{
    if (!component)
        return;
    TKvWndControl& self = *component;
    self.WindowHandle();
    std::uint32_t msg = self.FMsgRelease;
    self.FSelf = std::move(component);
    if (!self.FWindow->Post(msg)) {
        std::unique_ptr<TKvWndControl> now = std::move(self.FSelf);
    }
}

void TKvWndControl::TriggerBgException(const std::exception& e, bool& canClose)
{
    if (FOnBgException)
        FOnBgException(*this, e, canClose);
}

void TKvWndControl::HandleBgException(const std::exception& e, const std::string& source)
{
    bool canClose = true;
    Log("Handle Background Exception, source: " + source + " - " + e.what());
    bool handled = static_cast<bool>(FOnBgException);
    if (handled) {
        try {
            TriggerBgException(e, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        // Each step on its own, so a failing hook does not skip the abort.
        try {
            if (AbortHook)
                AbortHook();
        } catch (...) {
        }
        try {
            AbortOnError();
        } catch (...) {
        }
    }
    if (!handled)
        platform::TApplication::Instance().HandleException(e);
}

void TKvWndControl::AttachThread()
{
    if (FWindow)
        throw EKvException("Cannot attach when not detached");
    AllocateWindow();
}

void TKvWndControl::DetachThread()
{
    if (std::this_thread::get_id() != FOwnerThread)
        throw EKvException("Cannot detach from another thread");
    ReleaseWindow();
}

void TKvWndControl::RunMessageLoop()
{
    std::weak_ptr<const bool> alive = FLifeToken;
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (!FTerminated && !platform::TApplication::Instance().Terminated()) {
        if (!loop.GetMessage(message))
            break;
        platform::TEventLoop::DispatchMessage(message);
        if (alive.expired())
            return;
    }
    FTerminated = true;
}

bool TKvWndControl::ProcessOneMessage()
{
    platform::TQueuedMessage message;
    EPumped result = PumpOne(message);
    if (result == EPumped::Quit)
        FTerminated = true;
    return result != EPumped::Empty;
}

void TKvWndControl::ProcessAllMessages()
{
    std::weak_ptr<const bool> alive = FLifeToken;
    while (ProcessOneMessage())
        if (alive.expired())
            return;
}

void TKvWndControl::PumpMessages()
{
    if (FMessagePumpHook)
        FMessagePumpHook(*this);
    else if (FMultiThreaded)
        ProcessAllMessages();
    else
        platform::TApplication::Instance().ProcessMessages();
}

} // namespace net
