#include "Win32Error.h"
#include "platform/Files.h"
#include "platform/System.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <memory>

namespace platform {

namespace {

struct TInternetCloser {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using TInternet = std::unique_ptr<void, TInternetCloser>;

struct TCertCloser {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using TCert = std::unique_ptr<const CERT_CONTEXT, TCertCloser>;

using TX509 = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr std::chrono::milliseconds kTimerSlack {50};

std::string WinHttpErrorText(DWORD code)
{
    switch (code) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "the host name is not known";
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "could not connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "the connection was reset";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return "the server's certificate does not verify (WinHTTP error " + std::to_string(code) + ")";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the server's reply is not HTTP";
    default:
        return "WinHTTP error " + std::to_string(code);
    }
}

// One POST through WinHTTP, which takes the system's proxy settings and
// checks the server's certificate against the system's store. With a CA
// file the chain is checked against that file instead, before the body
// (which holds secrets) is sent.
class TWinHttpRequest {
public:
    explicit TWinHttpRequest(const THttpsPost& request)
        : request_(request), deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(request.TimeoutMs))
    {
    }

    THttpsReply Perform()
    {
        Open();
        SendHeaders();
        if (!request_.CAFile.empty())
            VerifyAgainstCaFile();
        SendBody();
        LimitTheNextStep();
        if (!WinHttpReceiveResponse(request_h_.get(), nullptr))
            FailWithSystem();
        THttpsReply reply;
        DWORD status = 0, size = sizeof status;
        WinHttpQueryHeaders(request_h_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        reply.Status = static_cast<long>(status);
        reply.Body = ReadBody();
        return reply;
    }

private:
    [[noreturn]] void Fail(const std::string& why) const { throw EHttpsError(request_.Url + ": " + why); }
    // A step that fails as the time runs out failed for that, whatever
    // WinHTTP calls it (its timers may end a little early).
    [[noreturn]] void FailWithSystem() const
    {
        const DWORD code = GetLastError();
        if (code == ERROR_WINHTTP_TIMEOUT || std::chrono::steady_clock::now() >= deadline_ - kTimerSlack)
            TimedOut();
        Fail(WinHttpErrorText(code));
    }
    [[noreturn]] void TimedOut() const
    {
        Fail("timed out after " + std::to_string(request_.TimeoutMs) + " milliseconds");
    }

    // Each step may take what is left of the time of the whole exchange.
    void LimitTheNextStep() const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            TimedOut();
        const int ms = static_cast<int>(left);
        WinHttpSetTimeouts(request_h_.get(), ms, ms, ms, ms);
    }

    void Open()
    {
        const std::wstring url = WideFromAnsi(request_.Url);
        URL_COMPONENTS parts {};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS)
            Fail("not an https URL");
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        host_ = AnsiFromWide(host);
        std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        const std::wstring agent = WideFromAnsi(request_.UserAgent.empty() ? "plonemail" : request_.UserAgent);
        session_.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session_)
            FailWithSystem();
        connection_.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
        if (!connection_)
            FailWithSystem();
        request_h_.reset(WinHttpOpenRequest(connection_.get(), L"POST", path.empty() ? L"/" : path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        if (!request_h_)
            FailWithSystem();
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request_h_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        if (!request_.CAFile.empty()) {
            // The chain and the host name are left to VerifyAgainstCaFile.
            DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
            WinHttpSetOption(request_h_.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
        }
    }

    // The connection, the TLS handshake and the header lines; the body
    // follows in SendBody.
    void SendHeaders()
    {
        const std::wstring headers =
            WideFromAnsi("Content-Type: " + request_.ContentType + "\r\nAccept: " + request_.Accept + "\r\n");
        LimitTheNextStep();
        if (!WinHttpSendRequest(request_h_.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(request_.Body.size()), 0))
            FailWithSystem();
    }

    void SendBody()
    {
        std::size_t sent = 0;
        while (sent < request_.Body.size()) {
            LimitTheNextStep();
            DWORD written = 0;
            if (!WinHttpWriteData(request_h_.get(), request_.Body.data() + sent,
                                  static_cast<DWORD>(request_.Body.size() - sent), &written))
                FailWithSystem();
            sent += written;
        }
    }

    // The server's chain (what it sent) must lead to a certificate of the CA
    // file and name the host, checked by OpenSSL as on other systems.
    void VerifyAgainstCaFile() const
    {
        PCCERT_CONTEXT serverCert = nullptr;
        DWORD size = sizeof serverCert;
        if (!WinHttpQueryOption(request_h_.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &serverCert, &size) ||
            !serverCert)
            Fail("the server sent no certificate");
        const TCert server(serverCert);
        const TX509 leaf = FromWindows(server.get());
        const std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> sent(
            sk_X509_new_null(), [](STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); });
        for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(server->hCertStore, c)) != nullptr;)
            if (TX509 cert = FromWindows(c); cert && sent && sk_X509_push(sent.get(), cert.get()) > 0)
                cert.release();
        const std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> authorities(CaFileStore(), &X509_STORE_free);
        const std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> check(X509_STORE_CTX_new(),
                                                                                  &X509_STORE_CTX_free);
        if (!leaf || !authorities || !check ||
            X509_STORE_CTX_init(check.get(), authorities.get(), leaf.get(), sent.get()) != 1)
            Fail("the server's certificate cannot be read");
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(check.get());
        X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str()) != 1)
            X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size());
        if (X509_verify_cert(check.get()) != 1)
            Fail(std::string("the server's certificate does not verify: ") +
                 X509_verify_cert_error_string(X509_STORE_CTX_get_error(check.get())));
    }

    static TX509 FromWindows(PCCERT_CONTEXT cert)
    {
        const unsigned char* der = cert->pbCertEncoded;
        return TX509(d2i_X509(nullptr, &der, static_cast<long>(cert->cbCertEncoded)), &X509_free);
    }

    // The PEM certificates of the CA file as trusted certificates.
    X509_STORE* CaFileStore() const
    {
        std::string pem;
        if (auto err = ReadFileText(request_.CAFile, pem))
            Fail("cannot read CA file " + request_.CAFile + ": " + err->Message);
        X509_STORE* store = X509_STORE_new();
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                     &BIO_free);
        while (X509* cert = store && bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr) {
            X509_STORE_add_cert(store, cert);
            X509_free(cert);
        }
        ERR_clear_error(); // the end of the text reads as an error
        return store;
    }

    std::string ReadBody() const
    {
        std::string body;
        for (;;) {
            char buffer[8192];
            DWORD got = 0;
            LimitTheNextStep();
            if (!WinHttpReadData(request_h_.get(), buffer, sizeof buffer, &got))
                FailWithSystem();
            if (got == 0)
                return body;
            if (body.size() + got > MaxHttpsReply)
                Fail("the reply is longer than " + std::to_string(MaxHttpsReply) + " bytes");
            body.append(buffer, got);
        }
    }

    const THttpsPost& request_;
    const std::chrono::steady_clock::time_point deadline_;
    std::string host_;
    TInternet session_, connection_, request_h_;
};

} // namespace

THttpsReply SystemHttpsPost(const THttpsPost& request)
{
    return TWinHttpRequest(request).Perform();
}

} // namespace platform
