#pragma once
// The system's socket headers, for the platform layer's own sources.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace platform {

// Sockets need no set-up here.
inline void EnsureSockets() {}

// getaddrinfo's result as a Windows Sockets number (errno set by the call).
int LookupError(int gaiError);

} // namespace platform
