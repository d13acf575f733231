#pragma once
// A one-connection TLS server on 127.0.0.1 for the tests of the TLS layer
// and the SMTP client: OpenSSL on a blocking socket on its own thread,
// playing a script. Its certificate is self-signed for 127.0.0.1 and
// localhost, made once per test program. Every wait is bounded.

#include "ScriptServer.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tlstest {

using testserver::WaitMs;

// The server's key and certificate, and the certificate as a PEM file (for
// a client that trusts it).
class TTestCertificate {
public:
    static const TTestCertificate& Instance()
    {
        static const TTestCertificate certificate;
        return certificate;
    }
    EVP_PKEY* Key() const { return FKey; }
    X509* Cert() const { return FCert; }
    const std::string& PemFile() const { return FPemFile; }

private:
    TTestCertificate()
    {
        FKey = EVP_EC_gen("P-256");
        FCert = X509_new();
        X509_set_version(FCert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(FCert), 4711);
        X509_gmtime_adj(X509_getm_notBefore(FCert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(FCert), 86400);
        X509_set_pubkey(FCert, FKey);
        X509_NAME* name = X509_get_subject_name(FCert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                                   -1, -1, 0);
        X509_set_issuer_name(FCert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, FCert, FCert, nullptr, nullptr, 0);
        X509_EXTENSION* san =
            X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
        X509_add_ext(FCert, san, -1);
        X509_EXTENSION_free(san);
        X509_sign(FCert, FKey, EVP_sha256());
        char path[] = "/tmp/plonemail-test-cert-XXXXXX";
        const int fd = ::mkstemp(path);
        FILE* file = ::fdopen(fd, "w");
        PEM_write_X509(file, FCert);
        std::fclose(file);
        FPemFile = path;
    }
    ~TTestCertificate()
    {
        std::remove(FPemFile.c_str());
        X509_free(FCert);
        EVP_PKEY_free(FKey);
    }

    EVP_PKEY* FKey = nullptr;
    X509* FCert = nullptr;
    std::string FPemFile;
};

class TTlsTestServer : public testserver::TScriptServer<TTlsTestServer> {
public:
    // maxVersion: the highest protocol the server offers (0: the library's).
    // implicitTls: the handshake follows the accept; otherwise the script
    // starts in plain text and AcceptTls switches.
    explicit TTlsTestServer(int maxVersion = 0, bool implicitTls = true)
        : TScriptServer(4)
        , FImplicit(implicitTls)
    {
        // The library writes with write(): a client that has gone must not
        // end the test program.
        ::signal(SIGPIPE, SIG_IGN);
        FCtx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(FCtx, TTestCertificate::Instance().Cert());
        SSL_CTX_use_PrivateKey(FCtx, TTestCertificate::Instance().Key());
        if (maxVersion != 0)
            SSL_CTX_set_max_proto_version(FCtx, maxVersion);
    }

    ~TTlsTestServer()
    {
        Stop();
        SSL_free(FSsl);
        SSL_CTX_free(FCtx);
    }

    // ---- script steps (with implicit TLS the handshake runs first)
    TTlsTestServer& SendPlain(std::string bytes)
    {
        return Step([bytes](TTlsTestServer& s) {
            return ::send(s.FConn, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        });
    }
    TTlsTestServer& AcceptTls()
    {
        return Step([](TTlsTestServer& s) { return s.Handshake(); });
    }
    TTlsTestServer& Send(std::string bytes)
    {
        return Step([bytes](TTlsTestServer& s) {
            return SSL_write(s.FSsl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
        });
    }
    // Reads one line (without its CR LF) and records it in Lines.
    TTlsTestServer& ReadLine()
    {
        return Step([](TTlsTestServer& s) { return s.ReadOneLine(); });
    }
    // Reads until count bytes have come, the peer closed or the wait ended.
    TTlsTestServer& Read(std::size_t count)
    {
        return Step([count](TTlsTestServer& s) { return s.ReadUpTo(count, 0); });
    }
    // As Read, pausing between reads so that the client's writes back up.
    TTlsTestServer& ReadSlowly(std::size_t count, int pauseMs)
    {
        return Step([count, pauseMs](TTlsTestServer& s) { return s.ReadUpTo(count, pauseMs); });
    }
    // Reads until the peer ends the session; CleanEnd tells whether it sent
    // its close alert.
    TTlsTestServer& ReadToEnd()
    {
        return Step([](TTlsTestServer& s) {
            s.ReadUpTo(static_cast<std::size_t>(-1), 0);
            return true;
        });
    }
    // Closes the connection, after its close alert when closeNotify is set.
    TTlsTestServer& Close(bool closeNotify)
    {
        return Step([closeNotify](TTlsTestServer& s) {
            if (closeNotify)
                SSL_shutdown(s.FSsl);
            s.CloseConnection();
            return true;
        });
    }

    bool Begin()
    {
        // A silent client must not hold the thread for ever.
        timeval limit {WaitMs / 1000, 0};
        ::setsockopt(FConn, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        return !FImplicit || Handshake();
    }

    bool HandshakeOk() const { return FHandshakeOk; }
    bool CleanEnd() const { return FCleanEnd; }
    std::string ServerName() const
    {
        std::lock_guard lock(FMutex);
        return FServerName;
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(FMutex);
        return FLines;
    }

private:
    bool Handshake()
    {
        FSsl = SSL_new(FCtx);
        SSL_set_fd(FSsl, FConn);
        FHandshakeOk = SSL_accept(FSsl) == 1;
        if (const char* name = SSL_get_servername(FSsl, TLSEXT_NAMETYPE_host_name)) {
            std::lock_guard lock(FMutex);
            FServerName = name;
        }
        return FHandshakeOk;
    }

    // Through TLS once it is up, in plain text before.
    int ReadSome(char* buffer, int size)
    {
        return FSsl ? SSL_read(FSsl, buffer, size) : static_cast<int>(::recv(FConn, buffer, size, 0));
    }

    bool ReadOneLine()
    {
        for (;;) {
            const std::size_t end = FPending.find("\r\n");
            if (end != std::string::npos) {
                std::lock_guard lock(FMutex);
                FLines.push_back(FPending.substr(0, end));
                FPending.erase(0, end + 2);
                return true;
            }
            char buffer[4096];
            const int n = ReadSome(buffer, sizeof buffer);
            if (n <= 0)
                return false;
            FPending.append(buffer, static_cast<std::size_t>(n));
        }
    }

    bool ReadUpTo(std::size_t count, int pauseMs)
    {
        char buffer[16384];
        std::size_t got = 0;
        while (got < count && !FStop) {
            if (pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            const int n = ReadSome(buffer, static_cast<int>(std::min(sizeof buffer, count - got)));
            if (n <= 0) {
                FCleanEnd = FSsl && SSL_get_error(FSsl, n) == SSL_ERROR_ZERO_RETURN;
                return false;
            }
            got += static_cast<std::size_t>(n);
            Keep(buffer, static_cast<std::size_t>(n));
        }
        return got >= count;
    }

    bool FImplicit = true;
    SSL_CTX* FCtx = nullptr;
    SSL* FSsl = nullptr;
    std::string FPending;
    std::atomic<bool> FHandshakeOk {false};
    std::atomic<bool> FCleanEnd {false};
    std::vector<std::string> FLines;
    std::string FServerName;
};

} // namespace tlstest
