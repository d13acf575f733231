// The AUTH request. For now it only names the mechanism; the exchanges of
// the mechanisms are still to come.
#include "smtp/SmtpClient.h"

namespace smtp {

namespace {

const char* MechanismName(TSmtpAuthType type)
{
    switch (type) {
    case smtpAuthPlain: return "PLAIN";
    case smtpAuthLogin: return "LOGIN";
    case smtpAuthCramSha1: return "CRAM-SHA1";
    case smtpAuthNtlm: return "NTLM";
    default: return "CRAM-MD5";
    }
}

} // namespace

void TCustomSmtpClient::Auth()
{
    BeginRequest(smtpAuth);
    if (!FExtendedSmtp) {
        FLastResponse = "500 ESMTP not supported.";
        FRequestResult = SmtpClientError;
        RecordError();
        FRequestDoneSent = false;
        DoRequestDone(SmtpClientError);
        return;
    }
    FLastStep = TSmtpChainStep::Auth;
    ExecAsync(smtpAuth, std::string("AUTH ") + MechanismName(AuthType), {235});
}

} // namespace smtp
