#include "net/KvWndHandler.h"

#include "net/KvThreadTimer.h"
#include "net/KvTimer.h"
#include "net/KvWndControl.h"
#include "platform/Application.h"

#include <algorithm>
#include <atomic>

namespace net {

namespace {

std::atomic<bool> unitFinalized { false };

} // namespace

bool KvUnitFinalized()
{
    return unitFinalized.load();
}

// ------------------------------------------------------------- TKvWndHandler

TKvWndHandler::TKvWndHandler(TKvWndHandlerList* ownerList, std::uint32_t msgLow)
    : FOwnerList(ownerList)
    , FMsgLow(msgLow)
{
}

TKvWndHandler::~TKvWndHandler()
{
    DestroyWindow();
}

platform::TMessageWindow* TKvWndHandler::EnsureWindow()
{
    if (!FWindow) {
        try {
            FWindow = platform::TMessageWindow::Create([this](const platform::TMessage& msg) { WndProc(msg); });
        } catch (const platform::EEventLoopError& e) {
            throw EKvException("Unable to create TKvWndControl hidden window.  Error: " + e.Error.Message);
        }
    }
    return FWindow.get();
}

void TKvWndHandler::DestroyWindow()
{
    if (!FWindow)
        return;
    FMsgMap.fill(nullptr);
    FWindow->Destroy();
    FWindow.reset();
}

std::uint32_t TKvWndHandler::AllocateMessage(TKvWndControl* component)
{
    if (FMsgLow < platform::MsgUser)
        throw EKvException("MsgLow not defined");
    auto slot = std::find(FMsgMap.begin(), FMsgMap.end(), nullptr);
    if (slot == FMsgMap.end())
        throw EKvException("No more free message");
    EnsureWindow();
    *slot = component;
    ++FUsedCount;
    return FMsgLow + static_cast<std::uint32_t>(slot - FMsgMap.begin());
}

void TKvWndHandler::FreeMessage(std::uint32_t& msg)
{
    if (msg == 0)
        return;
    if (FMsgLow <= platform::MsgUser - 1)
        throw EKvException("MsgLow not defined");
    if (msg < FMsgLow || msg >= FMsgLow + BlockSize)
        throw EKvException("Msg value out of bound");
    TKvWndControl*& slot = FMsgMap[msg - FMsgLow];
    if (!slot)
        throw EKvException("Msg not registered");
    slot = nullptr;
    --FUsedCount;
    if (FWindow)
        FWindow->RemoveMessages(msg);
    msg = 0;
    if (FUsedCount == 0)
        DestroyWindow();
}

void TKvWndHandler::FreeMessagesOf(const TKvWndControl* component)
{
    for (std::size_t i = 0; i < FMsgMap.size(); ++i) {
        if (FMsgMap[i] == component) {
            std::uint32_t msg = FMsgLow + static_cast<std::uint32_t>(i);
            FreeMessage(msg);
        }
    }
}

void TKvWndHandler::WndProc(const platform::TMessage& msg)
{
    try {
        if (msg.Msg >= FMsgLow && msg.Msg < FMsgLow + BlockSize) {
            if (TKvWndControl* component = FMsgMap[msg.Msg - FMsgLow]) {
                // The component may destroy itself and this handler: touch nothing after.
                component->WndProc(msg);
                return;
            }
        }
        if (MessageHook && MessageHook(msg))
            return;
        if (msg.Msg == platform::MsgTimer)
            TKvTimer::DeliverTick(msg);
        else if (msg.Msg == ThreadTimerMessage())
            TKvThreadTimer::DeliverTick(msg);
    } catch (const std::exception& e) {
        if (ExceptionHook)
            ExceptionHook(e);
        else
            platform::TApplication::Instance().HandleException(e);
    }
}

// --------------------------------------------------------- TKvWndHandlerPool

TKvWndHandlerPool& TKvWndHandlerPool::Instance()
{
    static TKvWndHandlerPool pool;
    return pool;
}

TKvWndHandlerPool::~TKvWndHandlerPool()
{
    unitFinalized = true;
}

TKvWndHandler* TKvWndHandlerPool::GetWindowHandler(int count, std::thread::id thread)
{
    if (count > TKvWndHandler::BlockSize)
        throw EKvException("KV message IDs out of bounds!");
    auto list = std::find_if(FLists.rbegin(), FLists.rend(), [&](const auto& l) { return l->ThreadId == thread; });
    TKvWndHandlerList* owner = nullptr;
    if (list == FLists.rend()) {
        FLists.push_back(std::make_unique<TKvWndHandlerList>(thread));
        owner = FLists.back().get();
    } else {
        owner = list->get();
    }
    for (const auto& handler : owner->Handlers)
        if (handler->FreeCount() >= count)
            return handler.get();
    owner->Handlers.push_back(std::make_unique<TKvWndHandler>(owner));
    return owner->Handlers.back().get();
}

void TKvWndHandlerPool::FreeWindowHandler(TKvWndHandler* handler)
{
    TKvWndHandlerList* owner = handler->OwnerList();
    std::erase_if(owner->Handlers, [handler](const auto& h) { return h.get() == handler; });
    if (owner->Handlers.empty())
        std::erase_if(FLists, [owner](const auto& l) { return l.get() == owner; });
}

std::size_t TKvWndHandlerPool::HandlerCount(std::thread::id thread)
{
    std::lock_guard lock(FLock);
    for (const auto& list : FLists)
        if (list->ThreadId == thread)
            return list->Handlers.size();
    return 0;
}

} // namespace net
