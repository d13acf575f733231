#include "net/KvBufferHandler.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace net {

TKvBuffer::TKvBuffer(int size)
    : FData(static_cast<std::size_t>(std::max(size, 1)))
{
}

void TKvBuffer::SetSize(int size)
{
    FData.resize(static_cast<std::size_t>(std::max({size, FWrCount, 1})));
}

int TKvBuffer::Write(const char* data, int length)
{
    const int count = std::min(length, Size() - FWrCount);
    if (count <= 0)
        return 0;
    std::memcpy(FData.data() + FWrCount, data, static_cast<std::size_t>(count));
    FWrCount += count;
    return count;
}

int TKvBuffer::Peek(const char*& data) const
{
    data = FData.data() + FRdCount;
    return Pending();
}

// ------------------------------------------------------------ TKvBufferList

TKvBufferList::~TKvBufferList()
{
    Clear();
}

void TKvBufferList::PushBack(std::unique_ptr<TKvBuffer> buffer)
{
    TKvBuffer* raw = buffer.get();
    raw->FPrev = FTail;
    raw->FNext.reset();
    if (FTail)
        FTail->FNext = std::move(buffer);
    else
        FHead = std::move(buffer);
    FTail = raw;
}

std::unique_ptr<TKvBuffer> TKvBufferList::PopFront()
{
    std::unique_ptr<TKvBuffer> first = std::move(FHead);
    if (!first)
        return first;
    FHead = std::move(first->FNext);
    if (FHead)
        FHead->FPrev = nullptr;
    else
        FTail = nullptr;
    return first;
}

void TKvBufferList::Clear()
{
    // One at a time: a long chain must not recurse through the destructors.
    while (PopFront()) {
    }
}

// --------------------------------------------------------- TKvBufferHandler

TKvBufferHandler::TKvBufferHandler(int bufSize)
    : FBufSize(bufSize > 0 ? bufSize : DefaultBufSize)
{
}

void TKvBufferHandler::SetBufSize(int value)
{
    std::lock_guard lock(FLock);
    const int size = value > 0 ? value : DefaultBufSize;
    if (size == FBufSize)
        return;
    FBufSize = size;
    FFree.Clear();
    if (TKvBuffer* last = FData.Last())
        last->SetSize(size);
}

std::unique_ptr<TKvBuffer> TKvBufferHandler::TakeFree()
{
    if (std::unique_ptr<TKvBuffer> buffer = FFree.PopFront())
        return buffer;
    ++FCreated;
    return std::make_unique<TKvBuffer>(FBufSize);
}

void TKvBufferHandler::Write(const char* data, int length)
{
    while (length > 0) {
        TKvBuffer* last = FData.Last();
        const int taken = last ? last->Write(data, length) : 0;
        data += taken;
        length -= taken;
        if (length > 0)
            FData.PushBack(TakeFree());
    }
}

int TKvBufferHandler::Peek(const char*& data) const
{
    const TKvBuffer* first = FData.First();
    if (!first) {
        data = nullptr;
        return 0;
    }
    return first->Peek(data);
}

void TKvBufferHandler::Remove(int count)
{
    TKvBuffer* first = FData.First();
    if (!first)
        throw std::runtime_error("TKvBufferHandler.Remove: nothing to remove");
    if (count < 0 || count > first->Pending())
        throw std::runtime_error("TKvBufferHandler.Remove: Invalid Len " + std::to_string(first->Pending() - count));
    first->Remove(count);
    if (first->Pending() == 0) {
        std::unique_ptr<TKvBuffer> emptied = FData.PopFront();
        emptied->Clear();
        FFree.PushBack(std::move(emptied));
    }
}

void TKvBufferHandler::DeleteAll()
{
    while (std::unique_ptr<TKvBuffer> buffer = FData.PopFront()) {
        buffer->Clear();
        FFree.PushBack(std::move(buffer));
    }
}

} // namespace net
