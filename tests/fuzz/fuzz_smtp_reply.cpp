// The SMTP client reading replies through line mode: a server on 127.0.0.1
// sends the input as its whole side of a dialogue (greeting, EHLO
// capabilities, authentication challenges, replies), cut into pieces that
// the client reads one by one, then hangs up. The first byte chooses the
// authentication (none, a mechanism, or the automatic choice) and the cuts.
// The client runs a whole mail chain; every request it starts must end in
// exactly one report, also when the server's bytes make no sense.
#include "FuzzCheck.h"
#include "LoopbackListener.h"
#include "platform/EventLoop.h"
#include "smtp/SmtpClient.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <poll.h>
#include <vector>

namespace {

int g_listener = -1;
std::uint16_t g_port = 0;

void Pump()
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (loop.PeekMessage(message))
        platform::TEventLoop::DispatchMessage(message);
}

bool PumpUntil(const std::function<bool()>& done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (Pump(); !done(); Pump()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        platform::TEventLoop::Current().WaitMessage(5);
    }
    return true;
}

// Takes what the client sent, so that it never waits on a full buffer.
void Discard(int conn)
{
    char buffer[4096];
    while (::recv(conn, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

struct TChain {
    smtp::TCustomSmtpClient& Client;
    std::size_t Started = 0;
    std::size_t Reported = 0;
    bool Ended = false;

    void Start(const std::function<void()>& request)
    {
        try {
            request();
            ++Started;
        } catch (const std::exception&) {
            Ended = true;  // refused at once, as misuse is
        }
    }

    void Done(smtp::TSmtpRequest request, std::uint16_t error)
    {
        ++Reported;
        if (error != 0 || Ended) {
            Ended = true;
            return;
        }
        switch (request) {
        case smtp::smtpConnect: Start([this] { Client.Ehlo(); }); break;
        case smtp::smtpEhlo:
            if (Client.AuthType != smtp::smtpAuthNone)
                Start([this] { Client.Auth(); });
            else
                Start([this] { Client.MailFrom(); });
            break;
        case smtp::smtpAuth: Start([this] { Client.MailFrom(); }); break;
        case smtp::smtpMailFrom: Start([this] { Client.RcptTo(); }); break;
        case smtp::smtpRcptTo: Start([this] { Client.Data(); }); break;
        case smtp::smtpData: Start([this] { Client.Quit(); }); break;
        default: Ended = true; break;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::signal(SIGPIPE, SIG_IGN);
    g_listener = OpenLoopbackListener(16, g_port);
    return g_listener >= 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto auth = static_cast<smtp::TSmtpAuthType>(data[0] % 7);
    std::uint32_t cuts = data[0] * 2654435761u | 1u;
    const std::string stream = fuzz::Bytes(data + 1, size - 1);

    smtp::TCustomSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = std::to_string(g_port);
    client.FromName = "a@example.org";
    client.RcptName = {"b@example.org", "c@example.org"};
    client.HdrFrom = "a@example.org";
    client.HdrTo = "b@example.org";
    client.MailMessage = {"Hello", ".", "Bye"};
    client.AuthType = auth;
    client.Username = "user";
    client.Password = "secret";
    client.LmCompatLevel = data[0] % 6;
    TChain chain {client};
    std::size_t replyBytes = 0;
    client.OnRequestDone = [&chain](smtp::TCustomSmtpClient&, smtp::TSmtpRequest rq, std::uint16_t error) {
        chain.Done(rq, error);
    };
    client.OnResponse = [&replyBytes](smtp::TCustomSmtpClient&, const std::string& line) {
        replyBytes += line.size();
    };

    chain.Start([&client] { client.Connect(); });
    pollfd p {g_listener, POLLIN, 0};
    FUZZ_CHECK(::poll(&p, 1, 2000) == 1);
    const int conn = ::accept(g_listener, nullptr, nullptr);
    FUZZ_CHECK(conn >= 0);
    for (std::size_t at = 0; at < stream.size() && !chain.Ended;) {
        cuts ^= cuts << 13, cuts ^= cuts >> 17, cuts ^= cuts << 5;
        const std::size_t piece = std::min<std::size_t>(1 + cuts % 97, stream.size() - at);
        if (::send(conn, stream.data() + at, piece, MSG_NOSIGNAL) <= 0)
            break;
        at += piece;
        Pump();
        Discard(conn);
    }
    ::close(conn);
    // Once the server has gone, whatever was running is reported.
    FUZZ_CHECK(PumpUntil([&chain] { return chain.Reported == chain.Started; }, 5000));
    client.Abort();
    Pump();
    FUZZ_CHECK(chain.Reported == chain.Started);
    FUZZ_CHECK(replyBytes <= stream.size());  // every reply line read once
    return 0;
}
