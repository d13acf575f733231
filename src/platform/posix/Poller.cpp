#include "platform/Poller.h"

#include "platform/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

short PollMask(const TPollItem& item)
{
    short mask = 0;
    if (item.Wanted & FdRead)
        mask |= POLLIN;
    if (item.Wanted & FdWrite)
        mask |= POLLOUT;
    if (item.WatchEnd)
        mask |= POLLRDHUP;
    return mask;
}

unsigned FdEvents(short revents)
{
    unsigned events = 0;
    if (revents & POLLIN)
        events |= FdRead;
    if (revents & POLLOUT)
        events |= FdWrite;
    if (revents & (POLLERR | POLLNVAL))
        events |= FdError;
    if (revents & (POLLHUP | POLLRDHUP | POLLNVAL))
        events |= FdHangUp;
    return events;
}

} // namespace

struct TPoller::TImpl {
    int Wake = -1; // eventfd
    std::vector<pollfd> Fds;
};

TPoller::TPoller()
    : FImpl(std::make_unique<TImpl>())
{
    FImpl->Wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FImpl->Wake < 0)
        throw EEventLoopError(SystemErrorFromErrno(errno));
}

TPoller::~TPoller()
{
    close(FImpl->Wake);
}

void TPoller::Wait(std::vector<TPollItem>& items, int timeoutMs)
{
    std::vector<pollfd>& fds = FImpl->Fds;
    fds.clear();
    fds.push_back(pollfd {FImpl->Wake, POLLIN, 0});
    for (const TPollItem& item : items)
        fds.push_back(pollfd {static_cast<int>(item.Socket), PollMask(item), 0});
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < items.size(); ++i)
        items[i].Ready = n > 0 ? FdEvents(fds[i + 1].revents) : 0;
    if (n > 0 && fds[0].revents != 0) {
        std::uint64_t value = 0;
        while (read(FImpl->Wake, &value, sizeof value) > 0) {
        }
    }
}

void TPoller::Wake()
{
    std::uint64_t one = 1;
    // EAGAIN means the counter is already far from zero: the loop wakes anyway.
    while (write(FImpl->Wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

} // namespace platform
