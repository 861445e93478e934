#include "NetworkNotifier.h"

#include "MaporaExtrasLogging.h"

#include <QSocketNotifier>

#include <cerrno>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Online while any interface other than loopback is up, running (it has a
// carrier) and holds at least one address.
bool anyInterfaceOnline()
{
    struct ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        qCWarning(CATEGORY_CORE) << "NetworkNotifierLinux: getifaddrs failure: " << errno;
        return false;
    }
    bool online = false;
    for (struct ifaddrs *i = interfaces; i && !online; i = i->ifa_next) {
        const unsigned flags = i->ifa_flags;
        if (!i->ifa_addr || (flags & IFF_LOOPBACK) || !(flags & IFF_UP) || !(flags & IFF_RUNNING))
            continue;
        const int family = i->ifa_addr->sa_family;
        online = family == AF_INET || family == AF_INET6;
    }
    freeifaddrs(interfaces);
    return online;
}

bool isLinkOrAddressMessage(quint16 type)
{
    return type == RTM_NEWLINK || type == RTM_DELLINK || type == RTM_NEWADDR || type == RTM_DELADDR;
}

} // namespace

/*!
    Watches a netlink route socket for link and address changes. The kernel
    sends a batch of messages for every change; each batch that touches
    links or addresses is answered with the recomputed online state.
*/
class NetworkNotifierLinux : public NetworkNotifier
{
    Q_OBJECT

public:
    explicit NetworkNotifierLinux(QObject *parent)
        : NetworkNotifier(parent)
    {
        m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (m_socket < 0) {
            qCCritical(CATEGORY_CORE) << "NetworkNotifierLinux: netlink socket failure: " << errno;
            return;
        }
        struct sockaddr_nl address = {};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        if (::bind(m_socket, reinterpret_cast<struct sockaddr *>(&address), sizeof(address)) != 0) {
            qCCritical(CATEGORY_CORE) << "NetworkNotifierLinux: netlink bind failure: " << errno;
            ::close(m_socket);
            m_socket = -1;
            return;
        }
        m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &NetworkNotifierLinux::readMessages);
    }

    ~NetworkNotifierLinux() override
    {
        delete m_notifier;
        if (m_socket >= 0)
            ::close(m_socket);
    }

    bool isOnline() const override
    {
        return anyInterfaceOnline();
    }

private:
    void readMessages()
    {
        bool changed = false;
        alignas(struct nlmsghdr) char buffer[8192];
        for (;;) {
            const ssize_t length = ::recv(m_socket, buffer, sizeof(buffer), 0);
            if (length < 0) {
                // ENOBUFS: the kernel dropped messages; the state is recomputed anyway.
                if (errno == ENOBUFS) {
                    changed = true;
                    continue;
                }
                break;
            }
            if (length == 0)
                break;
            // Walk the messages of the datagram, trusting no length beyond it.
            size_t remaining = size_t(length);
            const char *cursor = buffer;
            while (remaining >= sizeof(struct nlmsghdr)) {
                const auto *header = reinterpret_cast<const struct nlmsghdr *>(cursor);
                if (header->nlmsg_len < sizeof(struct nlmsghdr) || header->nlmsg_len > remaining)
                    break;
                if (isLinkOrAddressMessage(header->nlmsg_type))
                    changed = true;
                const size_t step = NLMSG_ALIGN(header->nlmsg_len);
                if (step >= remaining)
                    break;
                cursor += step;
                remaining -= step;
            }
        }
        if (changed)
            emit onlineStateChanged(isOnline());
    }

    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
};

NetworkNotifier *NetworkNotifier::create(QObject *parent)
{
    return new NetworkNotifierLinux(parent);
}

#include "NetworkNotifierLinux.moc"
