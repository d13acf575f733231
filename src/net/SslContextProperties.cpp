// The published properties of the TLS context that can be reached by name:
// texts, integers and lists of lines.
#include "net/SslContext.h"

#include "platform/PublishedComponent.h"

#include <utility>

namespace net {

void TSslContext::PublishProperties(platform::TPublishedComponent& entry)
{
    for (auto [name, field] :
         {std::pair {"SslCipherList", &SslCipherList}, {"SslCryptoGroups", &SslCryptoGroups},
          {"SslDefaultSessionIDContext", &SslDefaultSessionIDContext}, {"SslCertFile", &SslCertFile},
          {"SslPrivKeyFile", &SslPrivKeyFile}, {"SslPassPhrase", &SslPassPhrase}, {"SslCAFile", &SslCAFile},
          {"SslCAPath", &SslCAPath}, {"SslCRLFile", &SslCRLFile}, {"SslCRLPath", &SslCRLPath},
          {"SslDHParamFile", &SslDHParamFile}})
        entry.PublishText(name, *field);
    for (auto [name, field] : {std::pair {"SslCertLines", &SslCertLines}, {"SslPrivKeyLines", &SslPrivKeyLines},
                               {"SslCALines", &SslCALines}, {"SslDHParamLines", &SslDHParamLines},
                               {"SslAlpnProtocols", &SslAlpnProtocols}})
        entry.PublishLines(name, *field);
    entry.PublishInteger("SslSessionCacheSize", SslSessionCacheSize);
    entry.PublishInteger("SslSessionTimeout", [this] { return static_cast<long>(SslSessionTimeout); },
                         [this](long v) {
                             if (v >= 0)
                                 SslSessionTimeout = static_cast<unsigned>(v);
                         });
    entry.PublishInteger("SslVerifyDepth", [this] { return static_cast<long>(SslVerifyDepth()); },
                         [this](long v) { SetSslVerifyDepth(static_cast<int>(v)); });
}

} // namespace net
