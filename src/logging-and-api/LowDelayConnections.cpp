#include "LowDelayConnections.h"

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdlib>

namespace {

bool isListed(const QHostAddress& address, const QList<QHostAddress>& addresses) {
    if (addresses.isEmpty()) {
        return true;
    }
    for (const QHostAddress& listed : addresses) {
        // An IPv4 server reached over an IPv6 socket shows as a mapped address.
        if (listed.isEqual(address, QHostAddress::TolerantConversion)) {
            return true;
        }
    }
    return false;
}

// Whether the descriptor is a connected TCP socket whose remote end is `port` on one of `addresses`.
bool isConnectionTo(int fd, quint16 port, const QList<QHostAddress>& addresses) {
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
        return false; // not a socket, or not a stream
    }
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return false; // not connected (yet)
    }
    quint16 peerPort = 0;
    if (peer.ss_family == AF_INET) {
        peerPort = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        peerPort = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
    } else {
        return false; // a local socket
    }
    return peerPort == port && isListed(QHostAddress(reinterpret_cast<const sockaddr*>(&peer)), addresses);
}

} // namespace

int LowDelayConnections::enable(quint16 port, const QList<QHostAddress>& addresses) {
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors) {
        return 0;
    }
    const int listing = ::dirfd(descriptors);
    int switched = 0;
    while (const dirent* entry = ::readdir(descriptors)) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || number == listing) {
            continue; // ".", ".." and the listing itself
        }
        const int fd = int(number);
        if (!isConnectionTo(fd, port, addresses)) {
            continue;
        }
        int on = 0;
        socklen_t length = sizeof on;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) != 0 || on != 0) {
            continue; // not TCP, or switched already
        }
        on = 1;
        if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0) {
            ++switched;
        }
    }
    ::closedir(descriptors);
    return switched;
}
