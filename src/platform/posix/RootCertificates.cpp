#include "platform/RootCertificates.h"

namespace platform {

// OpenSSL's default locations are the system's certificate store here.
std::vector<std::string> SystemRootCertificates()
{
    return {};
}

} // namespace platform
