// Posts and dispatches per second on the calling thread's message loop: bare
// windows, and a component's own message number routed through its handler.

#include "net/KvWndControl.h"
#include "platform/EventLoop.h"

#include <benchmark/benchmark.h>

#include <thread>

namespace {

void DrainInto(platform::TEventLoop& loop, platform::TQueuedMessage& m)
{
    while (loop.PeekMessage(m))
        platform::TEventLoop::DispatchMessage(m);
}

// Post one, take one: the steady state of a component posting to itself.
void BM_PostDispatchOne(benchmark::State& state)
{
    std::uint64_t got = 0;
    auto window = platform::TMessageWindow::Create([&](const platform::TMessage& m) { got += m.WParam; });
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage m;
    for (auto _ : state) {
        window->Post(2000, 1);
        loop.PeekMessage(m);
        platform::TEventLoop::DispatchMessage(m);
    }
    benchmark::DoNotOptimize(got);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostDispatchOne);

// A burst of posts, then one drain.
void BM_PostDispatchBurst(benchmark::State& state)
{
    const auto burst = static_cast<int>(state.range(0));
    std::uint64_t got = 0;
    auto window = platform::TMessageWindow::Create([&](const platform::TMessage& m) { got += m.WParam; });
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage m;
    for (auto _ : state) {
        for (int i = 0; i < burst; ++i)
            window->Post(2000, 1);
        DrainInto(loop, m);
    }
    benchmark::DoNotOptimize(got);
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_PostDispatchBurst)->Arg(64)->Arg(4096);

class TCounter : public net::TKvWndControl {
public:
    std::uint32_t MsgCount = 0;
    std::uint64_t Got = 0;
    int MessageCount() const override { return TKvWndControl::MessageCount() + 1; }
    void WndProc(const platform::TMessage& msg) override
    {
        if (msg.Msg == MsgCount)
            Got += msg.WParam;
        else
            TKvWndControl::WndProc(msg);
    }

protected:
    void AllocateMsgHandlers() override
    {
        TKvWndControl::AllocateMsgHandlers();
        MsgCount = AllocateMessage();
    }
};

// Through the handler's routing to the component's WndProc, as the sockets use it.
void BM_ComponentPostDispatch(benchmark::State& state)
{
    TCounter component;
    component.WindowHandle();
    std::uint32_t number = component.MsgCount;
    for (auto _ : state) {
        component.PostMessage(number, 1);
        component.ProcessOneMessage();
    }
    benchmark::DoNotOptimize(component.Got);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComponentPostDispatch);

// Another thread posts, the loop thread waits and dispatches.
void BM_CrossThreadPosts(benchmark::State& state)
{
    constexpr int perRound = 10000;
    std::uint64_t got = 0;
    auto window = platform::TMessageWindow::Create([&](const platform::TMessage&) { ++got; });
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage m;
    for (auto _ : state) {
        std::uint64_t target = got + perRound;
        std::thread poster([window] {
            for (int i = 0; i < perRound; ++i)
                window->Post(2000);
        });
        while (got < target) {
            loop.WaitMessage(100);
            DrainInto(loop, m);
        }
        poster.join();
    }
    state.SetItemsProcessed(state.iterations() * perRound);
}
BENCHMARK(BM_CrossThreadPosts)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
