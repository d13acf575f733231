#pragma once
// The system's error numbers as Windows Sockets numbers.

namespace platform {

// errno -> Windows Sockets number; 0 stays 0, an errno without counterpart
// is returned unchanged (it then reads as "Not a Winsocket error").
int WsaErrorFromErrno(int err);
// getaddrinfo's result -> Windows Sockets number (EAI_SYSTEM uses sysErrno).
int WsaErrorFromLookup(int gaiError, int sysErrno);

} // namespace platform
