#pragma once
// The server side for fuzz targets that play an SMTP dialogue against the
// real client: a listener on 127.0.0.1, opened once. The server's bytes go
// out in pieces, the client reads each before the next, then the server
// hangs up. The client runs a whole mail chain; every request it starts
// must end in exactly one report, also when the server's bytes make no
// sense.
#include "FuzzCheck.h"
#include "LoopbackListener.h"
#include "platform/EventLoop.h"
#include "smtp/SmtpClient.h"

#include <chrono>
#include <functional>

namespace fuzz {

inline void Pump()
{
    platform::TEventLoop& loop = platform::TEventLoop::Current();
    platform::TQueuedMessage message;
    while (loop.PeekMessage(message))
        platform::TEventLoop::DispatchMessage(message);
}

inline bool PumpUntil(const std::function<bool()>& done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (Pump(); !done(); Pump()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        platform::TEventLoop::Current().WaitMessage(5);
    }
    return true;
}

// The requests of one mail, each started when the one before succeeded.
struct TChain {
    explicit TChain(smtp::TCustomSmtpClient& client) : Client(client) {}

    smtp::TCustomSmtpClient& Client;
    // The request after a successful one; nothing (false) ends the chain.
    std::function<bool(smtp::TSmtpRequest done)> Next;
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
        if (error != 0 || Ended || !Next(request))
            Ended = true;
    }

    // The plain mail after EHLO: AUTH when asked for, MAIL FROM, RCPT TO,
    // DATA, QUIT.
    bool MailAfter(smtp::TSmtpRequest done)
    {
        switch (done) {
        case smtp::smtpEhlo:
            if (Client.AuthType != smtp::smtpAuthNone)
                Start([this] { Client.Auth(); });
            else
                Start([this] { Client.MailFrom(); });
            return true;
        case smtp::smtpAuth: Start([this] { Client.MailFrom(); }); return true;
        case smtp::smtpMailFrom: Start([this] { Client.RcptTo(); }); return true;
        case smtp::smtpRcptTo: Start([this] { Client.Data(); }); return true;
        case smtp::smtpData: Start([this] { Client.Quit(); }); return true;
        default: return false;
        }
    }
};

class TSmtpPeer {
public:
    static TSmtpPeer& Instance()
    {
        static TSmtpPeer peer;
        return peer;
    }

    std::string Port() const { return std::to_string(port_); }

    // Sets the client up for one mail to this server and follows its
    // reports with the chain.
    void Prepare(smtp::TCustomSmtpClient& client, TChain& chain)
    {
        client.Host = "127.0.0.1";
        client.Port = Port();
        client.FromName = "a@example.org";
        client.RcptName = {"b@example.org", "c@example.org"};
        client.HdrFrom = "a@example.org";
        client.HdrTo = "b@example.org";
        client.MailMessage = {"Hello", ".", "Bye"};
        client.Username = "user";
        client.Password = "secret";
        client.OnRequestDone = [&chain](smtp::TCustomSmtpClient&, smtp::TSmtpRequest rq, std::uint16_t error) {
            chain.Done(rq, error);
        };
    }

    // Connects the client, sends the stream in pieces whose sizes come from
    // the cuts seed, hangs up, and checks that every request was reported
    // once.
    void Play(TChain& chain, const std::string& stream, std::uint32_t cuts)
    {
        chain.Start([&chain] { chain.Client.Connect(); });
        FUZZ_CHECK(platform::SocketWaitReadable(listener_, 2000));
        int err = 0;
        const platform::TSocketHandle conn = platform::SocketAccept(listener_, err);
        FUZZ_CHECK(conn != platform::InvalidSocket);
        cuts |= 1u;
        for (std::size_t at = 0; at < stream.size() && !chain.Ended;) {
            cuts ^= cuts << 13, cuts ^= cuts >> 17, cuts ^= cuts << 5;
            const std::size_t piece = std::min<std::size_t>(1 + cuts % 97, stream.size() - at);
            if (platform::SocketSend(conn, stream.data() + at, piece, false, err) <= 0)
                break;
            at += piece;
            Pump();
            Discard(conn);
        }
        platform::SocketClose(conn);
        // Once the server has gone, whatever was running is reported.
        FUZZ_CHECK(PumpUntil([&chain] { return chain.Reported == chain.Started; }, 5000));
        chain.Client.Abort();
        Pump();
        FUZZ_CHECK(chain.Reported == chain.Started);
    }

private:
    TSmtpPeer()
    {
        platform::IgnoreBrokenPipeSignal();
        listener_ = OpenLoopbackListener(16, port_);
        FUZZ_CHECK(listener_ != platform::InvalidSocket);
    }

    // Takes what the client sent, so that it never waits on a full buffer.
    static void Discard(platform::TSocketHandle conn)
    {
        char buffer[4096];
        int err = 0;
        while (platform::SocketReadable(conn, err) > 0 && platform::SocketRecv(conn, buffer, sizeof buffer, err) > 0) {
        }
    }

    platform::TSocketHandle listener_ = platform::InvalidSocket;
    std::uint16_t port_ = 0;
};

} // namespace fuzz
