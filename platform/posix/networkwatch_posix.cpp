#include "platform/networkwatch.h"

#include "platform/posix/fileio.h"

#include <cerrno>
#include <cstdint>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>

namespace platform {

namespace {

// Whether a batch of route messages tells of an interface that is up or of a default route that
// came or went.
bool tellsOfChange(const std::uint8_t *batch, std::size_t length)
{
    auto remaining = static_cast<unsigned>(length);
    for (auto *message = reinterpret_cast<const nlmsghdr *>(batch); NLMSG_OK(message, remaining);
         message = NLMSG_NEXT(message, remaining)) {
        if (message->nlmsg_type == RTM_NEWLINK &&
            message->nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) {
            const auto *link = static_cast<const ifinfomsg *>(NLMSG_DATA(message));
            if (link->ifi_flags & IFF_UP)
                return true;
        } else if ((message->nlmsg_type == RTM_NEWROUTE || message->nlmsg_type == RTM_DELROUTE) &&
                   message->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            if (static_cast<const rtmsg *>(NLMSG_DATA(message))->rtm_dst_len == 0)
                return true;
        }
    }
    return false;
}

} // namespace

struct NetworkWatch::Impl
{
    posix::UniqueFd socket;
    posix::UniqueFd wake; // an eventfd: written by the destructor to end the thread
    std::thread thread;

    void run(const Callback &callback) const
    {
        // Route message batches fit a page or two; 32 KiB leaves room for a burst.
        alignas(nlmsghdr) std::uint8_t batch[32768];
        pollfd watched[] = {{socket.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
        for (;;) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (watched[1].revents)
                return;
            sockaddr_nl sender{};
            socklen_t senderLength = sizeof sender;
            const ssize_t received =
                ::recvfrom(socket.get(), batch, sizeof batch, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&sender), &senderLength);
            if (received < 0) {
                // ENOBUFS: the kernel dropped messages for us; what they said is unknown.
                if (errno == ENOBUFS)
                    callback();
                else if (errno != EINTR && errno != EAGAIN)
                    return;
                continue;
            }
            // Only the kernel speaks for the network; anything else on the socket is ignored.
            if (sender.nl_pid == 0 && tellsOfChange(batch, static_cast<std::size_t>(received)))
                callback();
        }
    }
};

NetworkWatch::NetworkWatch()
    : d(std::make_unique<Impl>())
{}

NetworkWatch::~NetworkWatch()
{
    if (!d->thread.joinable())
        return;
    const std::uint64_t one = 1;
    (void)!::write(d->wake.get(), &one, sizeof one);
    d->thread.join();
}

bool NetworkWatch::start(Callback callback)
{
    if (!callback || d->thread.joinable())
        return false;
    posix::UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    posix::UniqueFd wake(::eventfd(0, EFD_CLOEXEC));
    if (!socket.valid() || !wake.valid())
        return false;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return false;
    d->socket = std::move(socket);
    d->wake = std::move(wake);
    d->thread =
        std::thread([impl = d.get(), callback = std::move(callback)] { impl->run(callback); });
    return true;
}

} // namespace platform
