#pragma once
// Line mode on top of the socket: with LineMode set, received bytes are
// collected and OnDataAvailable is raised once for every complete line (line
// end included), which the handler reads with Receive or ReceiveText.

#include "net/SslAsyncSocket.h"

#include <functional>
#include <string>
#include <vector>

namespace net {

// The layer below line mode: TLS, so that lines are cut from decrypted bytes.
using TLineModeLowerSocket = TCustomSslAsyncSocket;

class TCustomLineAsyncSocket;

using TLineLimitEvent = std::function<void(TCustomAsyncSocket& sender, int rcvdLength, bool& clearData)>;

class TCustomLineAsyncSocket : public TLineModeLowerSocket {
public:
    using TLower = TLineModeLowerSocket;

    static constexpr int DefaultLineLimit = 65536;

    bool LineMode() const { return FLineMode; }
    // Buffered bytes are delivered again under the new mode from the message loop.
    void SetLineMode(bool value);
    const std::string& LineEnd() const { return FLineEnd; }
    // Buffered bytes are searched again for the new line end.
    void SetLineEnd(const std::string& value);
    int LineLimit = DefaultLineLimit; // 0 or less: no limit
    bool LineEcho = false;
    bool LineEdit = false;
    TLineLimitEvent OnLineLimitExceeded;

    // The text and LineEnd; the text's length plus that of LineEnd, 0 or
    // less for an empty text (nothing sent), -1 when the line end failed.
    int SendLine(const std::string& text);

    int ReceivedCount() override;
    void Abort() override;

    // Drops every byte received after the line on offer (all of them when
    // none is): bytes that came in the clear before TLS was switched on
    // must not be read as if TLS had delivered them.
    void DiscardReceived();

    // Bytes received and not yet read, and the length of the line on offer.
    int BufferedCount() const { return FRcvdCnt; }
    int LineLength() const { return FLineLength; }

protected:
    int DoRecv(void* buffer, int length) override;
    bool TriggerDataAvailable(std::uint16_t errCode) override;
    void TriggerSessionClosed(std::uint16_t errCode) override;
    void WMRedeliver(const platform::TMessage& msg) override;

private:
    int ReadBelow(int oldCount);
    void EditNewBytes(int& oldCount, int& newCount);
    // Offers the line at the front until it is read; false when the handler
    // stopped reading it (it then stays on offer).
    bool OfferLine();
    void DropFront(int count);
    void DeliverPlain();
    void CheckLineLimit();
    void FreeBuffer();

    bool FLineMode = false;
    std::string FLineEnd = "\r\n";
    std::vector<char> FRcvdPtr;
    int FRcvdCnt = 0;
    int FLineLength = 0;
    int FOfferFull = 0; // full length of the line while it is on offer
    bool FLineFound = false;
    bool FLineReceived = false;
    bool FLineClearData = false;
    // The next delivery searches the whole buffer, not only the new bytes:
    // the mode or the line end changed while bytes were buffered.
    bool FSearchAll = false;
};

} // namespace net
