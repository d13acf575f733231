#include "platform/Application.h"

#include "platform/Console.h"
#include "platform/EventLoop.h"

namespace platform {

TApplication& TApplication::Instance()
{
    static TApplication application;
    return application;
}

void TApplication::Terminate()
{
    FTerminated = true;
    TEventLoop::Current().PostQuitMessage();
}

void TApplication::ProcessMessages()
{
    TEventLoop& loop = TEventLoop::Current();
    TQueuedMessage message;
    while (loop.PeekMessage(message)) {
        if (!message.Window && message.Message.Msg == MsgQuit)
            FTerminated = true;
        else
            TEventLoop::DispatchMessage(message);
    }
}

void TApplication::HandleException(const std::exception& e)
{
    if (OnException) {
        try {
            OnException(e);
        } catch (...) {
        }
        return;
    }
    TConsole().Error(e.what());
}

} // namespace platform
