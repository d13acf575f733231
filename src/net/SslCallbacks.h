#pragma once
// Library callbacks that the context installs and the TLS socket serves.

#include <string>

struct x509_store_ctx_st;
struct ssl_st;
struct ssl_session_st;

namespace net {

// Peer verification: finds the socket of the connection and lets it decide.
int SslVerifyCallback(int ok, x509_store_ctx_st* storeCtx);
// A client session was established.
int SslNewSessionCallback(ssl_st* ssl, ssl_session_st* session);

// The text of the earliest queued library error (at most 120 characters)
// and its code; the queue is emptied. Empty and 0 when none is queued.
std::string TakeSslError(unsigned long& code);
// The texts of every queued library error, the oldest first, separated by
// CR LF; code is the earliest. The queue is emptied.
std::string TakeSslErrors(unsigned long& code);

} // namespace net
