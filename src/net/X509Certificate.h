#pragma once
// A certificate of a TLS peer (or of this side), with what the verification
// found out about it, and the chain of certificates a handshake presented.

#include <memory>
#include <string>
#include <vector>

struct x509_st;
struct evp_pkey_st;

namespace net {

class TX509Certificate {
public:
    TX509Certificate() = default;
    ~TX509Certificate();
    TX509Certificate(const TX509Certificate&) = delete;
    TX509Certificate& operator=(const TX509Certificate&) = delete;

    // Holds the certificate (an extra reference is taken); null clears.
    void Assign(x509_st* cert);
    // A private key that goes with it (client certificates); an extra
    // reference is taken.
    void AssignPrivateKey(evp_pkey_st* key);
    void Clear();
    bool IsEmpty() const { return FX509 == nullptr; }
    x509_st* X509() const { return FX509; }
    evp_pkey_st* PrivateKey() const { return FPrivateKey; }

    std::string SubjectOneLine() const;
    std::string IssuerOneLine() const;
    std::string SerialNumHex() const;
    // The SHA-1 fingerprint in hex.
    std::string Sha1Hex() const;
    // The library's text for VerifyResult.
    std::string VerifyErrorMsg() const;

    int VerifyResult = 0;
    int FirstVerifyResult = 0;
    int CustomVerifyResult = 0;
    int VerifyDepth = 0;

private:
    x509_st* FX509 = nullptr;
    evp_pkey_st* FPrivateKey = nullptr;
};

class TX509Chain {
public:
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TX509Certificate& operator[](int index) const { return *FItems[static_cast<std::size_t>(index)]; }
    // The entry of this certificate, or null.
    TX509Certificate* Find(x509_st* cert) const;
    TX509Certificate& Add(x509_st* cert);

private:
    std::vector<std::unique_ptr<TX509Certificate>> FItems;
};

} // namespace net
