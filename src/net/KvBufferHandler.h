#pragma once
// The send chain of the socket: fixed-size buffers in sending order, and a
// free list of emptied ones kept for reuse, so a steady stream of sends
// allocates nothing once the chain has reached its working size.

#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace net {

class TKvBuffer {
public:
    explicit TKvBuffer(int size);

    int Size() const { return static_cast<int>(FData.size()); }
    // Resizing keeps the written bytes (the size never drops below them).
    void SetSize(int size);
    // Appends what fits; returns the count taken.
    int Write(const char* data, int length);
    // Pending bytes: from the read count to the write count.
    int Peek(const char*& data) const;
    int Pending() const { return FWrCount - FRdCount; }
    void Remove(int count) { FRdCount += count; }
    void Clear() { FWrCount = FRdCount = 0; }

private:
    friend class TKvBufferList;
    std::vector<char> FData;
    int FWrCount = 0;
    int FRdCount = 0;
    std::unique_ptr<TKvBuffer> FNext;
    TKvBuffer* FPrev = nullptr;
};

// A doubly linked list of buffers that owns them.
class TKvBufferList {
public:
    ~TKvBufferList();
    bool Empty() const { return !FHead; }
    TKvBuffer* First() const { return FHead.get(); }
    TKvBuffer* Last() const { return FTail; }
    void PushBack(std::unique_ptr<TKvBuffer> buffer);
    std::unique_ptr<TKvBuffer> PopFront();
    void Clear();

private:
    std::unique_ptr<TKvBuffer> FHead;
    TKvBuffer* FTail = nullptr;
};

class TKvBufferHandler {
public:
    static constexpr int DefaultBufSize = 1460;

    explicit TKvBufferHandler(int bufSize = DefaultBufSize);

    // Held around every operation on the chain by its users.
    std::mutex& Lock() { return FLock; }

    int BufSize() const { return FBufSize; }
    // 0 or less means the default; buffers holding data keep their bytes.
    void SetBufSize(int value);

    // Lock held by the caller for the following.
    void Write(const char* data, int length);
    // The pending bytes of the first buffer; 0 when the chain is empty.
    int Peek(const char*& data) const;
    // Marks count bytes of the first buffer sent; an emptied buffer goes to
    // the free list.
    void Remove(int count);
    // Discards every unsent byte.
    void DeleteAll();
    bool Empty() const { return FData.Empty(); }
    // Buffers made so far (for tests and the benchmark).
    int BuffersCreated() const { return FCreated; }

private:
    std::unique_ptr<TKvBuffer> TakeFree();

    std::mutex FLock;
    int FBufSize;
    int FCreated = 0;
    TKvBufferList FData;
    TKvBufferList FFree;
};

} // namespace net
