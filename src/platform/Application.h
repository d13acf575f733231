#pragma once
// The application object of the message-loop thread: its terminated flag, its
// own message processing, its default display of exceptions that nobody
// else handled, and the windows it owns.

#include "platform/PublishedComponent.h"

#include <atomic>
#include <exception>
#include <functional>

namespace platform {

class TApplication {
public:
    using TExceptionEvent = std::function<void(const std::exception& e)>;

    static TApplication& Instance();

    bool Terminated() const { return FTerminated.load(); }
    // Sets the terminated flag and queues the quit message on the calling thread.
    void Terminate();
    // Dispatches every queued message of the calling thread; the quit message
    // sets the terminated flag.
    void ProcessMessages();
    // OnException when set (what it raises is dropped), otherwise the message
    // on standard error.
    void HandleException(const std::exception& e);

    // Set once at start-up, before any message is dispatched.
    TExceptionEvent OnException;

    // The owner of every window, root of the named component tree.
    TPublishedComponent& Component() { return FComponent; }

private:
    TApplication() = default;
    std::atomic<bool> FTerminated { false };
    TPublishedComponent FComponent { "Application", nullptr };
};

} // namespace platform
