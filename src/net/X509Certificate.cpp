#include "net/X509Certificate.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>

namespace net {

TX509Certificate::~TX509Certificate()
{
    Clear();
}

void TX509Certificate::Assign(x509_st* cert)
{
    if (cert)
        X509_up_ref(cert);
    X509_free(FX509);
    FX509 = cert;
}

void TX509Certificate::AssignPrivateKey(evp_pkey_st* key)
{
    if (key)
        EVP_PKEY_up_ref(key);
    EVP_PKEY_free(FPrivateKey);
    FPrivateKey = key;
}

void TX509Certificate::Clear()
{
    Assign(nullptr);
    AssignPrivateKey(nullptr);
    VerifyResult = FirstVerifyResult = CustomVerifyResult = VerifyDepth = 0;
}

namespace {

std::string NameText(X509_NAME* name)
{
    if (!name)
        return {};
    char buffer[512];
    X509_NAME_oneline(name, buffer, sizeof buffer);
    return buffer;
}

} // namespace

std::string TX509Certificate::SubjectOneLine() const
{
    return FX509 ? NameText(X509_get_subject_name(FX509)) : std::string();
}

std::string TX509Certificate::IssuerOneLine() const
{
    return FX509 ? NameText(X509_get_issuer_name(FX509)) : std::string();
}

std::string TX509Certificate::SerialNumHex() const
{
    if (!FX509)
        return {};
    BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(FX509), nullptr);
    char* hex = number ? BN_bn2hex(number) : nullptr;
    std::string text = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(number);
    return text;
}

std::string TX509Certificate::Sha1Hex() const
{
    if (!FX509)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(FX509, EVP_sha1(), digest, &length) != 1)
        return {};
    std::string text;
    char pair[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}

std::string TX509Certificate::VerifyErrorMsg() const
{
    return X509_verify_cert_error_string(VerifyResult);
}

TX509Certificate* TX509Chain::Find(x509_st* cert) const
{
    for (const auto& item : FItems)
        if (item->X509() && X509_cmp(item->X509(), cert) == 0)
            return item.get();
    return nullptr;
}

TX509Certificate& TX509Chain::Add(x509_st* cert)
{
    FItems.push_back(std::make_unique<TX509Certificate>());
    FItems.back()->Assign(cert);
    return *FItems.back();
}

} // namespace net
