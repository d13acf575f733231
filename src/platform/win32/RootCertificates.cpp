#include "platform/RootCertificates.h"

#include <windows.h>
#include <wincrypt.h>

namespace platform {

std::vector<std::string> SystemRootCertificates()
{
    std::vector<std::string> certificates;
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store)
        return certificates;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr)
        certificates.emplace_back(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    CertCloseStore(store, 0);
    return certificates;
}

} // namespace platform
