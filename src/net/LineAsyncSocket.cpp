#include "net/LineAsyncSocket.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace net {

void TCustomLineAsyncSocket::SetLineMode(bool value)
{
    if (value == FLineMode)
        return;
    FLineMode = value;
    if (FRcvdCnt > 0 || FLineLength > 0) {
        FSearchAll = true;
        PostMessage(MsgRedeliver());
    }
}

void TCustomLineAsyncSocket::SetLineEnd(const std::string& value)
{
    if (value == FLineEnd)
        return;
    FLineEnd = value;
    if (FRcvdCnt > 0) {
        FSearchAll = true;
        if (FLineMode)
            PostMessage(MsgRedeliver());
    }
}

int TCustomLineAsyncSocket::SendLine(const std::string& text)
{
    const int sent = SendText(text);
    if (sent <= 0)
        return sent;
    const int end = SendText(FLineEnd);
    if (end < 0)
        return -1;
    return sent + end;
}

int TCustomLineAsyncSocket::ReceivedCount()
{
    if (FLineMode)
        return FLineLength;
    return TLower::ReceivedCount();
}

void TCustomLineAsyncSocket::Abort()
{
    // An aborted connection does not hand out its unfinished last line.
    FLineClearData = true;
    TLower::Abort();
    FLineClearData = false;
    FreeBuffer();
}

int TCustomLineAsyncSocket::DoRecv(void* buffer, int length)
{
    if (length <= 0)
        return 0;
    char* data = FRcvdPtr.data();
    if (FLineMode && FLineLength > 0) {
        // Only the line moves up: the bytes after it keep their place until
        // the whole line has been read.
        const int count = std::min(length, FLineLength);
        std::memcpy(buffer, data, static_cast<std::size_t>(count));
        std::memmove(data, data + count, static_cast<std::size_t>(FLineLength - count));
        FLineLength -= count;
        return count;
    }
    if (!FLineMode && FRcvdCnt > 0) {
        const int count = std::min(length, FRcvdCnt);
        std::memcpy(buffer, data, static_cast<std::size_t>(count));
        std::memmove(data, data + count, static_cast<std::size_t>(FRcvdCnt - count));
        FRcvdCnt -= count;
        return count;
    }
    if (FLineMode && FRcvdCnt > 0) {
        // The start of an unfinished line is buffered: reading past it from
        // the system would put later bytes before it.
        SetLastError(platform::WsaEWOULDBLOCK);
        return -1;
    }
    return TLower::DoRecv(buffer, length);
}

int TCustomLineAsyncSocket::ReadBelow(int oldCount)
{
    int readable = 0;
    try {
        readable = TLower::ReceivedCount();
    } catch (const std::exception&) {
        return -1;
    }
    if (readable < 0)
        return -1;
    if (readable == 0)
        readable = 255;
    const auto needed = static_cast<std::size_t>(oldCount) + static_cast<std::size_t>(readable) + 1;
    if (FRcvdPtr.size() < needed)
        FRcvdPtr.resize(needed);
    const int got = TLower::DoRecv(FRcvdPtr.data() + oldCount, readable);
    return std::max(got, 0);
}

void TCustomLineAsyncSocket::EditNewBytes(int& oldCount, int& newCount)
{
    // Backspace may reach into bytes buffered earlier, so the edit works on a
    // copy of everything.
    std::string edited(FRcvdPtr.data(), static_cast<std::size_t>(oldCount));
    const std::string_view incoming(FRcvdPtr.data() + oldCount, static_cast<std::size_t>(newCount));
    std::size_t write = edited.size();
    std::size_t low = write;
    bool changed = false;
    const auto put = [&](char c) {
        if (write < edited.size())
            edited[write] = c;
        else
            edited.push_back(c);
        ++write;
    };
    for (const char c : incoming) {
        if (c == '\b') {
            changed = true;
            if (write > 0) {
                if (LineEcho)
                    SendText("\b \b");
                --write;
                low = std::min(low, write);
            }
        } else if (c == '\t') {
            changed = true;
            do {
                if (LineEcho)
                    SendText(" ");
                put(' ');
            } while (write % 8 != 0);
        } else {
            if (LineEcho)
                Send(&c, 1);
            put(c);
        }
    }
    if (!changed)
        return;
    edited.resize(write);
    if (FRcvdPtr.size() < write + 1)
        FRcvdPtr.resize(write + 1);
    std::memcpy(FRcvdPtr.data(), edited.data(), write);
    oldCount = static_cast<int>(low);
    newCount = static_cast<int>(write - low);
}

void TCustomLineAsyncSocket::DropFront(int count)
{
    count = std::clamp(count, 0, FRcvdCnt);
    char* data = FRcvdPtr.data();
    std::memmove(data, data + count, static_cast<std::size_t>(FRcvdCnt - count));
    FRcvdCnt -= count;
}

// The unread rest of the line stays at the front; the bytes its reads left
// behind (between the rest and the next line) go.
static void CloseGap(std::vector<char>& buffer, int& count, int rest, int full)
{
    if (rest >= full || full > count)
        return;
    char* data = buffer.data();
    std::memmove(data + rest, data + full, static_cast<std::size_t>(count - full));
    count -= full - rest;
}

bool TCustomLineAsyncSocket::OfferLine()
{
    const int full = FLineLength;
    const std::uint64_t serial = Serial();
    // A close from inside the handler must know which bytes it has read.
    struct TOffer {
        int& Full;
        TOffer(int& full, int length) : Full(full) { Full = length; }
        ~TOffer() { Full = 0; }
    } offer(FOfferFull, full);
    try {
        while (FLineMode && FLineLength > 0) {
            const int before = FLineLength;
            if (!TLower::TriggerDataAvailable(0)) {
                FLineLength = 0; // nobody reads lines: they are dropped
                break;
            }
            if (!Current(serial))
                return false;
            if (FLineLength == before && FLineMode) {
                // The handler read nothing: the line stays on offer.
                CloseGap(FRcvdPtr, FRcvdCnt, FLineLength, full);
                return false;
            }
        }
    } catch (...) {
        if (Current(serial)) {
            if (FLineLength > 0)
                CloseGap(FRcvdPtr, FRcvdCnt, FLineLength, full);
            else
                DropFront(full);
        }
        throw;
    }
    if (FLineLength == 0) {
        DropFront(full);
    } else {
        // Line mode went off in the middle of the line: its rest is plain data now.
        CloseGap(FRcvdPtr, FRcvdCnt, FLineLength, full);
        FLineLength = 0;
    }
    return true;
}

void TCustomLineAsyncSocket::DeliverPlain()
{
    const std::uint64_t serial = Serial();
    while (!FLineMode && FRcvdCnt > 0) {
        const int before = FRcvdCnt;
        if (!TLower::TriggerDataAvailable(0) || !Current(serial) || FRcvdCnt == before)
            return;
    }
}

void TCustomLineAsyncSocket::CheckLineLimit()
{
    if (LineLimit <= 0 || FRcvdCnt <= LineLimit)
        return;
    bool clearData = true;
    const std::uint64_t serial = Serial();
    if (OnLineLimitExceeded) {
        // A close from inside the handler must not hand out the oversize line.
        FLineClearData = true;
        OnLineLimitExceeded(*this, FRcvdCnt, clearData);
        FLineClearData = false;
        if (!Current(serial))
            return;
    }
    if (clearData) {
        FRcvdCnt = 0;
        FLineLength = 0;
    }
}

bool TCustomLineAsyncSocket::TriggerDataAvailable(std::uint16_t errCode)
{
    if (!FLineMode || FLineEnd.empty())
        return TLower::TriggerDataAvailable(errCode);
    const bool lineOnOffer = FLineLength > 0;
    int oldCount = FRcvdCnt;
    int newCount = ReadBelow(oldCount);
    if (newCount < 0 || (newCount == 0 && FRcvdCnt == 0))
        return true;
    if (newCount > 0) {
        if (LineEdit)
            EditNewBytes(oldCount, newCount);
        else if (LineEcho)
            Send(FRcvdPtr.data() + oldCount, newCount);
    }
    const auto endLength = static_cast<int>(FLineEnd.size());
    const bool searchAll = std::exchange(FSearchAll, false) || lineOnOffer;
    int searchStart = searchAll ? 0 : std::max(0, oldCount - endLength);
    FRcvdCnt = oldCount + newCount;
    const std::uint64_t serial = Serial();
    while (FLineMode) {
        const std::string_view buffered(FRcvdPtr.data(), static_cast<std::size_t>(FRcvdCnt));
        const std::size_t pos = buffered.find(FLineEnd, static_cast<std::size_t>(searchStart));
        if (pos == std::string_view::npos)
            break;
        FLineLength = static_cast<int>(pos) + endLength;
        FLineFound = true;
        FLineReceived = true;
        if (!OfferLine())
            return true;
        DeliverPlain();
        if (!Current(serial))
            return true;
        searchStart = 0;
    }
    if (FLineMode)
        CheckLineLimit();
    return true;
}

void TCustomLineAsyncSocket::WMRedeliver(const platform::TMessage&)
{
    int pass = 0;
    while (FRcvdCnt > 0) {
        const int before = FRcvdCnt;
        const int lineBefore = FLineLength;
        FLineFound = false;
        FSearchAll = true;
        TriggerDataAvailable(0);
        if (FRcvdCnt == 0)
            break;
        ++pass;
        if (FRcvdCnt == before && FLineLength == lineBefore)
            break; // nobody took anything
        if (FLineMode && pass >= 4 && !FLineFound)
            break;
    }
}

void TCustomLineAsyncSocket::TriggerSessionClosed(std::uint16_t errCode)
{
    FLineReceived = true;
    if (FOfferFull > 0) {
        // Closed by the handler of an offered line: what it has read is gone,
        // its unread rest and the bytes after it stay.
        CloseGap(FRcvdPtr, FRcvdCnt, FLineLength, FOfferFull);
        FOfferFull = 0;
    }
    if (FLineMode && FRcvdCnt > 0 && !FLineClearData) {
        // The unfinished last line, without line end.
        FLineLength = FRcvdCnt;
        while (FLineMode && FLineLength > 0) {
            const int before = FLineLength;
            if (!TLower::TriggerDataAvailable(0) || FLineLength == before)
                break;
        }
    }
    FreeBuffer();
    FLineClearData = false;
    TLower::TriggerSessionClosed(errCode);
}

void TCustomLineAsyncSocket::DiscardReceived()
{
    // While a line is on offer it keeps its place at the front.
    FRcvdCnt = FOfferFull > 0 ? std::min(FRcvdCnt, FOfferFull) : 0;
    if (FOfferFull == 0)
        FLineLength = 0;
    if (!FRcvdPtr.empty())
        FRcvdPtr[static_cast<std::size_t>(FRcvdCnt)] = '\0';
}

void TCustomLineAsyncSocket::FreeBuffer()
{
    FRcvdPtr.clear();
    FRcvdPtr.shrink_to_fit();
    FRcvdCnt = 0;
    FLineLength = 0;
}

} // namespace net
