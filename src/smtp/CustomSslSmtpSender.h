#pragma once
// The composer line's TLS layer; its TLS behaviour comes with the TLS client.

#include "smtp/SmtpSender.h"

namespace smtp {

class TCustomSslSmtpSender : public TSmtpSender {
public:
    using TSmtpSender::TSmtpSender;
};

} // namespace smtp
