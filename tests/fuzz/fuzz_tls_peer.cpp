// The TLS record path with a peer that sends what the input says: with
// implicit TLS from the first byte on, or after a plain greeting, EHLO and
// STARTTLS. The records go through the TLS socket's buffers into OpenSSL and
// back; whatever the peer sends, the client's requests end in one report
// each and nothing reaches it as a reply that was not sent over TLS.
#include "SmtpPeer.h"
#include "net/SslContext.h"
#include "smtp/CustomSslSmtpSender.h"

namespace {

const std::string kPlainPreamble = "220 mail.example ESMTP\r\n250-mail.example\r\n250 STARTTLS\r\n220 go ahead\r\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool implicit = data[0] & 1;
    // One context for all runs, as the program shares one: it reads the
    // system's certificates once.
    static net::TSslContext context;
    smtp::TCustomSslSmtpSender client;
    client.SetSslContext(&context);
    client.SslType = implicit ? smtp::smtpTlsImplicit : smtp::smtpTlsExplicit;
    fuzz::TChain chain(client);
    bool secured = false;
    chain.Next = [&chain, &client, &secured](smtp::TSmtpRequest done) {
        switch (done) {
        case smtp::smtpConnect: chain.Start([&client] { client.Ehlo(); }); return true;
        case smtp::smtpStartTls:
            secured = true;
            chain.Start([&client] { client.Ehlo(); });
            return true;
        case smtp::smtpEhlo:
            if (client.SslType == smtp::smtpTlsExplicit && !secured) {
                chain.Start([&client] { client.StartTls(); });
                return true;
            }
            return chain.MailAfter(done);
        default: return chain.MailAfter(done);
        }
    };
    fuzz::TSmtpPeer::Instance().Prepare(client, chain);
    // Once TLS is on, no reply is read before its handshake succeeded: bytes
    // sent in the clear after STARTTLS's reply are never taken for replies.
    bool unprotected = false;
    client.OnResponse = [&](smtp::TCustomSmtpClient&, const std::string&) {
        unprotected = unprotected || (client.SslActive() && !secured);
    };
    client.OnSslHandshakeDone = [&secured](net::TCustomAsyncSocket&, std::uint16_t error, net::TX509Certificate&,
                                           bool&) {
        secured = secured || error == 0;
    };
    const std::string peer = fuzz::Bytes(data + 1, size - 1);
    fuzz::TSmtpPeer::Instance().Play(chain, implicit ? peer : kPlainPreamble + peer, data[0] * 2654435761u);
    FUZZ_CHECK(!unprotected);
    return 0;
}
