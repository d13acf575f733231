// The SMTP client reading replies through line mode: the input is the
// server's whole side of a dialogue (greeting, EHLO capabilities,
// authentication challenges, replies). The first byte chooses the
// authentication (none, a mechanism, or the automatic choice) and where the
// stream is cut.
#include "SmtpPeer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    smtp::TCustomSmtpClient client;
    fuzz::TChain chain(client);
    chain.Next = [&chain](smtp::TSmtpRequest done) {
        if (done != smtp::smtpConnect)
            return chain.MailAfter(done);
        chain.Start([&chain] { chain.Client.Ehlo(); });
        return true;
    };
    fuzz::TSmtpPeer::Instance().Prepare(client, chain);
    client.AuthType = static_cast<smtp::TSmtpAuthType>(data[0] % 7);
    client.LmCompatLevel = data[0] % 6;
    std::size_t replyBytes = 0;
    client.OnResponse = [&replyBytes](smtp::TCustomSmtpClient&, const std::string& line) {
        replyBytes += line.size();
    };
    const std::string stream = fuzz::Bytes(data + 1, size - 1);
    fuzz::TSmtpPeer::Instance().Play(chain, stream, data[0] * 2654435761u);
    FUZZ_CHECK(replyBytes <= stream.size());  // every reply line read once
    return 0;
}
