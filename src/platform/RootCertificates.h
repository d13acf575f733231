#pragma once
#include <string>
#include <vector>

namespace platform {

// The trusted root certificates of the system's own store (DER encoded),
// for a TLS library that cannot read that store itself; empty where the
// library's default locations already are the system's store.
std::vector<std::string> SystemRootCertificates();

} // namespace platform
