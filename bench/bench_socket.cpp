// Sends a large amount of data over loopback through TAsyncSocket::Send and
// reports the rate, the peak memory of the process and how many heap
// allocations the steady part of the stream made (the send chain reuses its
// buffers, so this should be 0).
//
// PLONEMAIL_BENCH_SOCKET_BYTES overrides the amount (default 1 GiB).

#include "net/TimeoutAsyncSocket.h"
#include "platform/EventLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<std::uint64_t> allocations {0};

// A sink on 127.0.0.1 that reads and drops everything until the peer closes.
class TSink {
public:
    TSink()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(FListen, 1);
        socklen_t len = sizeof addr;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TSink()
    {
        FThread.join();
        ::close(FListen);
    }
    std::string Port() const { return std::to_string(FPort); }
    std::uint64_t Received() const { return FReceived; }

private:
    void Run()
    {
        const int conn = ::accept(FListen, nullptr, nullptr);
        if (conn < 0)
            return;
        static char buffer[1 << 16];
        ssize_t n;
        while ((n = ::recv(conn, buffer, sizeof buffer, 0)) > 0)
            FReceived += static_cast<std::uint64_t>(n);
        ::close(conn);
    }

    int FListen = -1;
    unsigned short FPort = 0;
    std::atomic<std::uint64_t> FReceived {0};
    std::thread FThread;
};

std::uint64_t TotalBytes()
{
    if (const char* text = std::getenv("PLONEMAIL_BENCH_SOCKET_BYTES")) {
        const unsigned long long value = std::strtoull(text, nullptr, 10);
        if (value > 0)
            return value;
    }
    return 1ull << 30;
}

long PeakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

int main()
{
    const std::uint64_t total = TotalBytes();
    constexpr int chunk = 64 * 1024;
    const std::uint64_t warmUp = std::min<std::uint64_t>(total / 10, 16ull << 20);
    const std::vector<char> data(chunk, 'x');

    TSink sink;
    net::TAsyncSocket socket;
    std::uint64_t queued = 0;
    std::uint64_t allocationsAtWarmUp = 0;
    std::uint64_t allocationsAtEnd = 0;
    bool warm = false;
    bool finished = false;
    const auto sendMore = [&](net::TCustomAsyncSocket& s) {
        if (queued >= total) {
            allocationsAtEnd = allocations.load();
            s.Close();
            finished = true;
            return;
        }
        if (!warm && queued >= warmUp) {
            warm = true;
            allocationsAtWarmUp = allocations.load();
        }
        const int length = static_cast<int>(std::min<std::uint64_t>(chunk, total - queued));
        queued += static_cast<std::uint64_t>(s.Send(data.data(), length));
    };
    socket.OnSessionConnected = [&](net::TCustomAsyncSocket& s, std::uint16_t err) {
        if (err != 0) {
            std::fprintf(stderr, "connect failed: %s\n", net::WSocketErrorText(err).c_str());
            finished = true;
            return;
        }
        sendMore(s);
    };
    socket.OnDataSent = [&](net::TCustomAsyncSocket& s, std::uint16_t) { sendMore(s); };
    socket.OnSessionClosed = [&](net::TCustomAsyncSocket&, std::uint16_t) { finished = true; };

    const auto start = std::chrono::steady_clock::now();
    socket.SetAddr("127.0.0.1");
    socket.SetPort(sink.Port());
    socket.Connect();
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (!finished && loop.GetMessage(message))
        platform::TEventLoop::DispatchMessage(message);
    const std::uint64_t steadyAllocations = allocationsAtEnd - allocationsAtWarmUp;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mb = static_cast<double>(queued) / (1024.0 * 1024.0);

    std::printf("bench_socket: %.0f MB sent in %.2f s: %.1f MB/s\n", mb, seconds, mb / seconds);
    std::printf("bench_socket: peak memory %ld KB, send buffers %d, allocations after warm-up %llu\n",
                PeakRssKb(), socket.SendBuffersCreated(), static_cast<unsigned long long>(steadyAllocations));
    return queued == total ? 0 : 1;
}
