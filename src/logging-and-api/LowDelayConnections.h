#pragma once

#include <QHostAddress>
#include <QList>

// Nagle's algorithm off (TCP_NODELAY) on this process's TCP connections to one server.
//
// QNetworkAccessManager hands a request body to its socket in pieces of 16 KB, one write each, and leaves
// Nagle's algorithm on. A piece smaller than a segment then waits in the kernel until the server has
// acknowledged the piece before it, and a server that has answered on the connection delays that
// acknowledgement (40 ms on Linux, up to 200 ms elsewhere): every upload larger than one piece stalls for
// the delay. Qt offers no way to the socket, so the connections are found among the process's descriptors
// by their remote end. Turning Nagle off on a connection of someone else's to the same server only sends
// its small writes sooner.
class LowDelayConnections {
public:
    LowDelayConnections() = delete;

    // Switches every connected TCP socket of this process whose remote end is `port` on one of
    // `addresses` (on any address when the list is empty) to TCP_NODELAY. Returns how many this call
    // switched; those switched before are not counted.
    static int enable(quint16 port, const QList<QHostAddress>& addresses = {});
};
