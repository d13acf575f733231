#pragma once
// The system's socket headers, for the platform layer's own sources.
#ifndef FD_SETSIZE
#define FD_SETSIZE 1024 // the event loop's select takes every socket of a thread
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace platform {

// Starts Windows Sockets 2.2 once for the process (before the first call
// that needs it; it is never stopped).
void EnsureSockets();

// getaddrinfo reports Windows Sockets numbers itself.
inline int LookupError(int gaiError)
{
    return gaiError;
}

} // namespace platform
