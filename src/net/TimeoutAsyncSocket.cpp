#include "net/TimeoutAsyncSocket.h"

#include "platform/Clock.h"

namespace net {

TCustomTimeoutAsyncSocket::~TCustomTimeoutAsyncSocket()
{
    // The timer goes before the socket's window: its ticks must stop first.
    FTimeoutTimer.reset();
}

void TCustomTimeoutAsyncSocket::StartWatch()
{
    if (!FTimeoutTimer) {
        FTimeoutTimer = std::make_unique<TKvThreadTimer>(this);
        FTimeoutTimer->SetKeepThreadAlive(KeepTimerThreadAlive);
        FTimeoutTimer->SetOnTimer([this](TKvTimer&) { CheckTimeout(); });
    }
    if (TAsyncSocketCounter* counter = Counter()) {
        counter->LastSendTick = platform::TickCount();
    } else {
        CreateCounter();
        Counter()->LastSendTick = platform::TickCount();
    }
    if (FTimeoutTimer->Interval() != TimeoutCheckInterval)
        FTimeoutTimer->SetInterval(TimeoutCheckInterval);
    if (!FTimeoutTimer->Enabled())
        FTimeoutTimer->SetEnabled(true);
}

void TCustomTimeoutAsyncSocket::StopWatch()
{
    if (FTimeoutTimer)
        FTimeoutTimer->SetEnabled(false);
}

void TCustomTimeoutAsyncSocket::CheckTimeout()
{
    const std::uint32_t now = platform::TickCount();
    if (ConnectTimeout > 0 && State() != wsConnected) {
        if (TickDiff(FConnectStartTick, now) > ConnectTimeout) {
            StopWatch();
            if (OnTimeoutExpired)
                OnTimeoutExpired(*this, tcConnect);
        }
        return;
    }
    if (IdleTimeout > 0) {
        const TAsyncSocketCounter* counter = Counter();
        const std::uint32_t lastAlive = counter ? counter->LastAliveTick() : FConnectStartTick;
        if (TickDiff(lastAlive, now) > IdleTimeout) {
            StopWatch();
            if (OnTimeoutExpired)
                OnTimeoutExpired(*this, tcIdle);
        }
        return;
    }
    StopWatch();
}

void TCustomTimeoutAsyncSocket::Connect()
{
    if (ConnectTimeout > 0) {
        StartWatch();
        FConnectStartTick = platform::TickCount();
    } else if (IdleTimeout > 0) {
        StartWatch();
    }
    TCustomLineAsyncSocket::Connect();
}

void TCustomTimeoutAsyncSocket::TriggerSessionConnected(std::uint16_t errCode)
{
    if (errCode != 0 || IdleTimeout == 0)
        StopWatch();
    else
        StartWatch();
    TCustomLineAsyncSocket::TriggerSessionConnected(errCode);
}

void TCustomTimeoutAsyncSocket::TriggerSessionClosed(std::uint16_t errCode)
{
    StopWatch();
    TCustomLineAsyncSocket::TriggerSessionClosed(errCode);
}

void TCustomTimeoutAsyncSocket::DetachThread()
{
    if (FTimeoutTimer && std::this_thread::get_id() == OwnerThread()) {
        FSavedEnabled = FTimeoutTimer->Enabled();
        FTimeoutTimer->SetEnabled(false);
    }
    TCustomLineAsyncSocket::DetachThread();
}

void TCustomTimeoutAsyncSocket::AttachThread()
{
    TCustomLineAsyncSocket::AttachThread();
    if (FTimeoutTimer)
        FTimeoutTimer->SetEnabled(FSavedEnabled);
}

TAsyncSocket::TAsyncSocket()
{
    // The window and its message numbers are taken at once, by the complete object.
    WindowHandle();
}

} // namespace net
