// The AUTH request: the mechanisms the server announces, the automatic
// choice with its fall-back on 504, and the exchanges of PLAIN, LOGIN,
// CRAM-MD5, CRAM-SHA1 and NTLM, and the OAuth 2.0 mechanisms XOAUTH2 and
// OAUTHBEARER.
#include "smtp/SmtpClient.h"

#include "mime/Base64.h"
#include "platform/TextUtil.h"
#include "smtp/AuthCrypto.h"
#include "smtp/NtlmMessages.h"
#include "smtp/OAuthSasl.h"

#include <algorithm>
#include <sstream>

namespace smtp {

namespace {

// The automatic choice prefers them in this order and falls back along it.
constexpr TSmtpAuthType kAutoOrder[] = {smtpAuthNtlm, smtpAuthCramMD5, smtpAuthCramSha1, smtpAuthLogin,
                                        smtpAuthPlain};

const char* MechanismName(TSmtpAuthType type)
{
    switch (type) {
    case smtpAuthPlain: return "PLAIN";
    case smtpAuthLogin: return "LOGIN";
    case smtpAuthCramMD5: return "CRAM-MD5";
    case smtpAuthCramSha1: return "CRAM-SHA1";
    case smtpAuthNtlm: return "NTLM";
    case smtpAuthXOAuth2: return "XOAUTH2";
    case smtpAuthOAuthBearer: return "OAUTHBEARER";
    default: return "";
    }
}

TSmtpAuthType NextInAutoOrder(TSmtpAuthType type)
{
    const auto* at = std::find(std::begin(kAutoOrder), std::end(kAutoOrder), type);
    return at + 1 < std::end(kAutoOrder) ? *(at + 1) : smtpAuthNone;
}

} // namespace

// An EHLO line "250-AUTH LOGIN PLAIN" or the older "250-AUTH=LOGIN"; the
// mechanisms of several lines add up.
void TCustomSmtpClient::ReadAuthCapability(const std::string& line)
{
    std::string text = platform::UpperAscii(platform::Trim(line));
    if (text.size() <= 9)
        return;
    text.erase(0, 4);
    if (!text.starts_with("AUTH ") && !text.starts_with("AUTH="))
        return;
    text.erase(0, 5);
    std::replace(text.begin(), text.end(), '=', ' ');
    std::istringstream words(text);
    std::string word;
    while (std::getline(words, word, ' ')) {
        word = platform::Trim(word);
        if (!word.empty() && std::find(FAuthMechanisms.begin(), FAuthMechanisms.end(), word) == FAuthMechanisms.end())
            FAuthMechanisms.push_back(word);
    }
}

TSmtpAuthType TCustomSmtpClient::AutoAuthMechanism() const
{
    for (TSmtpAuthType type : kAutoOrder)
        if (std::find(FAuthMechanisms.begin(), FAuthMechanisms.end(), MechanismName(type)) != FAuthMechanisms.end())
            return type;
    return smtpAuthCramMD5;
}

void TCustomSmtpClient::Auth()
{
    BeginRequest(smtpAuth);
    if (!FExtendedSmtp) {
        RefuseAuth("500 ESMTP not supported.");
        return;
    }
    FLastStep = TSmtpChainStep::Auth;
    FOAuthError.clear();
    const TSmtpAuthType mechanism = AuthType == smtpAuthAutoSelect ? AutoAuthMechanism() : AuthType;
    if (*MechanismName(mechanism) == '\0') {
        if (!FInChain)
            FChainContinuation = nullptr;
        RefuseAuth("500 No Authentication Type Selected.");
        return;
    }
    StartAuthMechanism(mechanism);
}

void TCustomSmtpClient::RefuseAuth(const std::string& text)
{
    FLastResponse = text;
    FRequestResult = SmtpClientError;
    RecordError();
    FRequestDoneSent = false;
    DoRequestDone(SmtpClientError);
}

void TCustomSmtpClient::StartAuthMechanism(TSmtpAuthType mechanism)
{
    switch (mechanism) {
    case smtpAuthPlain: {
        // Authorization identity, authentication identity, password.
        const std::string& identity = FromName.empty() ? Username : FromName;
        const std::string credentials = Username + '\0' + identity + '\0' + Password;
        AuthFirst(smtpAuthPlain, "AUTH PLAIN " + mime::Base64Encode(credentials), 235,
                  &TCustomSmtpClient::AuthPlainDone);
        break;
    }
    case smtpAuthLogin: AuthFirst(smtpAuthLogin, "AUTH LOGIN", 334, &TCustomSmtpClient::AuthLoginUser); break;
    case smtpAuthCramMD5:
        AuthFirst(smtpAuthCramMD5, "AUTH CRAM-MD5", 334, &TCustomSmtpClient::AuthCramMd5Answer);
        break;
    case smtpAuthCramSha1:
        AuthFirst(smtpAuthCramSha1, "AUTH CRAM-SHA1", 334, &TCustomSmtpClient::AuthCramSha1Answer);
        break;
    case smtpAuthXOAuth2:
        AuthOAuth("AUTH XOAUTH2 " + mime::Base64Encode(XOAuth2Response(Username, AccessToken)), "");
        break;
    case smtpAuthOAuthBearer: {
        // The port the connection really went to, also when Port names a service.
        const std::string port = FConnected ? Socket().GetPeerPort() : Port;
        AuthOAuth("AUTH OAUTHBEARER " + mime::Base64Encode(OAuthBearerResponse(Username, Host, port, AccessToken)),
                  mime::Base64Encode("\x01"));
        break;
    }
    default: AuthNtlm(); break;
    }
}

void TCustomSmtpClient::AuthFirst(TSmtpAuthType mechanism, const std::string& command, int accepted,
                                  TAuthStep next)
{
    ExecAsync(smtpAuth, command, {accepted}, [this, mechanism, next] { AuthFirstReply(mechanism, next); });
}

void TCustomSmtpClient::AuthFirstReply(TSmtpAuthType mechanism, TAuthStep next)
{
    if (FRequestResult == 0) {
        (this->*next)();
        return;
    }
    if (AuthType == smtpAuthAutoSelect) {
        if (FRequestResult == 504 && mechanism != smtpAuthPlain) {
            FState = smtpInternalReady;
            StartAuthMechanism(NextInAutoOrder(mechanism));
            return;
        }
        if (FRequestResult != 504)
            FErrorMessage = "500 Authentication Type could not be determined.";
    }
    DoRequestDone(FRequestResult);
}

void TCustomSmtpClient::AuthNext(const std::string& command, TSmtpAcceptedCodes accepted, TContinuation done)
{
    FState = smtpInternalReady;
    ExecAsync(smtpAuth, command, accepted, std::move(done));
}

void TCustomSmtpClient::AuthPlainDone()
{
    DoRequestDone(0);
}

// LOGIN: the texts of the server's two prompts are not read.
void TCustomSmtpClient::AuthLoginUser()
{
    AuthNext(mime::Base64Encode(Username), {334}, [this] {
        if (FRequestResult != 0)
            DoRequestDone(FRequestResult);
        else
            AuthLoginPassword();
    });
}

void TCustomSmtpClient::AuthLoginPassword()
{
    AuthNext(mime::Base64Encode(Password), {235});
}

void TCustomSmtpClient::AuthCramMd5Answer()
{
    AuthCramAnswer("MD5", "500 Malformed MD5 Challenge: ");
}

void TCustomSmtpClient::AuthCramSha1Answer()
{
    AuthCramAnswer("SHA1", "500 Malformed SHA1 Challenge: ");
}

// The user name and the HMAC of the server's challenge keyed with the password.
void TCustomSmtpClient::AuthCramAnswer(const char* digestName, const char* malformed)
{
    if (FLastResponse.size() <= 4) {
        RefuseAuth(malformed + FLastResponse);
        return;
    }
    const std::string challenge = mime::Base64Decode(std::string_view(FLastResponse).substr(4));
    std::string digest;
    try {
        digest = TAuthCrypto().Hmac(digestName, Password, challenge);
    } catch (const EAuthCryptoError& e) {
        RefuseAuth(std::string("500 ") + e.what());
        return;
    }
    AuthNext(mime::Base64Encode(Username + " " + HexLower(digest)), {235});
}

// NTLM needs MD4 and DES, which are loaded now, before anything is sent:
// without them an automatic choice moves on, a chosen NTLM fails.
void TCustomSmtpClient::AuthNtlm()
{
    try {
        if (!FNtlmCrypto)
            FNtlmCrypto = TAuthCrypto::WithLegacy();
    } catch (const EAuthCryptoError& e) {
        if (AuthType == smtpAuthAutoSelect)
            StartAuthMechanism(NextInAutoOrder(smtpAuthNtlm));
        else
            RefuseAuth(std::string("500 NTLM is not available: ") + e.what());
        return;
    }
    AuthFirst(smtpAuthNtlm, "AUTH NTLM " + NtlmGetMessage1("", "", LmCompatLevel), 334,
              &TCustomSmtpClient::AuthNtlmAnswer);
}

void TCustomSmtpClient::AuthNtlmAnswer()
{
    if (FLastResponse.size() <= 4) {
        RefuseAuth("500 Malformed NtlmMsg2: " + FLastResponse);
        return;
    }
    const TNtlmChallenge challenge = NtlmGetMessage2(FLastResponse.substr(4));
    std::string answer;
    try {
        answer = NtlmGetMessage3({"", "", Username, Password, 0}, challenge, LmCompatLevel, *FNtlmCrypto);
    } catch (const EAuthCryptoError& e) {
        RefuseAuth(std::string("500 NTLM is not available: ") + e.what());
        return;
    }
    AuthNext(answer, {235});
}

void TCustomSmtpClient::AuthOAuth(const std::string& command, const std::string& dummy)
{
    ExecAsync(smtpAuth, command, {235, 334}, [this, dummy] {
        if (FRequestResult != 0 || FStatusCode != 334) {
            DoRequestDone(FRequestResult);
            return;
        }
        if (FLastResponse.size() > 4)
            FOAuthError = DescribeOAuthError(std::string_view(FLastResponse).substr(4));
        AuthNext(dummy, {235});
    });
}

} // namespace smtp
