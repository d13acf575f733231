// The message transfer of the SMTP client holds one line at a time: writing
// a message to a file or counting its size must not grow the process with
// the size of the message. Reported per run: time per line and the growth
// of the peak resident size.
#include "platform/EventLoop.h"
#include "smtp/SmtpClient.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>

namespace {

long PeakRssKb()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Pumps the loop until the client reports.
void RunToReport(const bool& done)
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (!done) {
        if (loop.PeekMessage(message))
            platform::TEventLoop::DispatchMessage(message);
        else
            loop.WaitMessage(50);
    }
}

void Transfer(benchmark::State& state, bool toFile)
{
    const long lines = state.range(0);
    const std::string line(76, 'x');
    smtp::TCustomSmtpClient client;
    client.HdrFrom = "bench@example.com";
    client.HdrTo = "sink@example.com";
    client.HdrSubject = "Benchmark";
    client.OnGetData = [&](smtp::TCustomSmtpClient&, int lineNum, std::string& msgLine, int, bool& more) {
        if (lineNum > lines)
            more = false;
        else
            msgLine = line;
    };
    bool done = false;
    client.OnRequestDone = [&](smtp::TCustomSmtpClient&, smtp::TSmtpRequest, std::uint16_t) { done = true; };
    const long rssBefore = PeakRssKb();
    for (auto _ : state) {
        done = false;
        if (toFile) {
            client.SendMode = smtp::smtpToStream;
            client.SendToFile("/dev/null");
        } else {
            client.CalcMsgSize();
        }
        RunToReport(done);
    }
    state.SetItemsProcessed(state.iterations() * lines);
    state.SetBytesProcessed(state.iterations() * lines * static_cast<long>(line.size() + 2));
    state.counters["peak_rss_growth_kb"] = static_cast<double>(PeakRssKb() - rssBefore);
}

void BM_CalcMsgSize(benchmark::State& state)
{
    Transfer(state, false);
}

void BM_SendToFile(benchmark::State& state)
{
    Transfer(state, true);
}

} // namespace

// 10 thousand lines (0.8 MB) and 1 million lines (78 MB) of message text.
BENCHMARK(BM_CalcMsgSize)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendToFile)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
