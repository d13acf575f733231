#include "runner/RequestChain.h"
#include "smtp/HtmlSmtpSender.h"

#include <gtest/gtest.h>

using namespace smtp;

namespace {

// The requests the chain starts from Connect until it ends.
std::vector<TSmtpRequest> Chain(TSmtpAuthType auth)
{
    TSslHtmlSmtpSender client;
    client.AuthType = auth;
    std::vector<TSmtpRequest> chain {smtpConnect};
    while (auto next = runner::NextRequest(client, chain.back())) {
        chain.push_back(*next);
        if (chain.size() > 20)
            break;
    }
    return chain;
}

} // namespace

TEST(RequestChain, WithAndWithoutAuthentication)
{
    EXPECT_EQ(Chain(smtpAuthNone),
              (std::vector {smtpConnect, smtpHelo, smtpMailFrom, smtpRcptTo, smtpData, smtpQuit}));
    for (auto auth : {smtpAuthPlain, smtpAuthNtlm, smtpAuthAutoSelect})
        EXPECT_EQ(Chain(auth),
                  (std::vector {smtpConnect, smtpEhlo, smtpAuth, smtpMailFrom, smtpRcptTo, smtpData, smtpQuit}))
            << auth;
}

TEST(RequestChain, RequestsOutsideTheChainEndIt)
{
    TSslHtmlSmtpSender client;
    for (auto request : {smtpQuit, smtpRset, smtpVrfy, smtpOpen, smtpMail, smtpCustom, smtpEhlo, smtpAuth})
        EXPECT_FALSE(runner::NextRequest(client, request)) << request;
    EXPECT_THROW(runner::StartRequest(client, smtpRset), SmtpException);
}

TEST(RequestChain, ExplicitTlsAsksForStartTlsAfterEhloEvenWithoutAuthentication)
{
    TSslHtmlSmtpSender client;
    client.SslType = smtpTlsExplicit;
    EXPECT_EQ(runner::NextRequest(client, smtpConnect), smtpEhlo);
    EXPECT_EQ(runner::NextRequest(client, smtpHelo), std::nullopt);
    // Not yet over TLS: STARTTLS follows EHLO, and EHLO is said again after it.
    EXPECT_EQ(runner::NextRequest(client, smtpEhlo), smtpStartTls);
    EXPECT_EQ(runner::NextRequest(client, smtpStartTls), smtpEhlo);
}
