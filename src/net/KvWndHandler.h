#pragma once
// Message windows shared by the components of one thread: each handler owns
// one window and a block of 100 message numbers from MsgLow.

#include "platform/EventLoop.h"

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace net {

class TKvWndControl;
class TKvWndHandlerList;

class TKvWndHandler {
public:
    static constexpr int BlockSize = 100;
    static constexpr std::uint32_t DefaultMsgLow = platform::MsgUser + 1;

    explicit TKvWndHandler(TKvWndHandlerList* ownerList, std::uint32_t msgLow = DefaultMsgLow);
    ~TKvWndHandler();
    TKvWndHandler(const TKvWndHandler&) = delete;
    TKvWndHandler& operator=(const TKvWndHandler&) = delete;

    // Reserves the first free number for component (creating the window).
    std::uint32_t AllocateMessage(TKvWndControl* component);
    // Gives a number back, drops its queued messages and sets msg to 0; the
    // window goes with the last number. 0 is ignored.
    void FreeMessage(std::uint32_t& msg);
    // Gives back every number still held by component (its destruction).
    void FreeMessagesOf(const TKvWndControl* component);

    platform::TMessageWindow* EnsureWindow();
    platform::TMessageWindow* Window() const { return FWindow.get(); }
    std::uint32_t MsgLow() const { return FMsgLow; }
    int UsedCount() const { return FUsedCount; }
    int FreeCount() const { return BlockSize - FUsedCount; }
    TKvWndHandlerList* OwnerList() const { return FOwnerList; }

    // May claim a message none of the components owns (true: handled).
    std::function<bool(const platform::TMessage&)> MessageHook;
    // Receives exceptions escaping dispatch; the application's display otherwise.
    std::function<void(const std::exception&)> ExceptionHook;

private:
    void WndProc(const platform::TMessage& msg);
    void DestroyWindow();

    TKvWndHandlerList* FOwnerList;
    std::uint32_t FMsgLow;
    std::array<TKvWndControl*, BlockSize> FMsgMap {};
    int FUsedCount = 0;
    std::shared_ptr<platform::TMessageWindow> FWindow;
};

class TKvWndHandlerList {
public:
    explicit TKvWndHandlerList(std::thread::id thread)
        : ThreadId(thread)
    {
    }
    std::thread::id ThreadId;
    std::vector<std::unique_ptr<TKvWndHandler>> Handlers;
};

// Process-wide; every public operation takes the pool lock except those
// marked as expecting it held.
class TKvWndHandlerPool {
public:
    static TKvWndHandlerPool& Instance();
    ~TKvWndHandlerPool();

    std::mutex& Lock() { return FLock; }
    // Lock held: a handler of thread with count free numbers (EKvException
    // "KV message IDs out of bounds!" for count above 100).
    TKvWndHandler* GetWindowHandler(int count, std::thread::id thread);
    // Lock held.
    void FreeWindowHandler(TKvWndHandler* handler);

    std::size_t HandlerCount(std::thread::id thread);

private:
    TKvWndHandlerPool() = default;
    std::mutex FLock;
    std::vector<std::unique_ptr<TKvWndHandlerList>> FLists;
};

// Set once the process-wide pool is gone at exit.
bool KvUnitFinalized();

} // namespace net
