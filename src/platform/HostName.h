#pragma once
#include <string>

namespace platform {

// The machine's host name as the socket layer reports it; empty when the
// system cannot tell.
std::string LocalHostName();

} // namespace platform
