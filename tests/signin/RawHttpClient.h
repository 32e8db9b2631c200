#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

// Clients of the loopback listener. A client on a thread of its own writes a request in the given pieces
// (with a pause between them, so each arrives as its own TCP segment) and reads the answer until the server
// closes. The main thread stays free to run the listener's event loop.
namespace RawHttpClient {

struct Exchange {
    bool connected = false;
    QByteArray answer;
};

inline std::future<Exchange> send(quint16 port, QList<QByteArray> pieces,
                                  std::chrono::milliseconds pause = std::chrono::milliseconds(60),
                                  bool readAnswer = true) {
    return std::async(std::launch::async, [port, pieces, pause, readAnswer] {
        Exchange exchange;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval timeout{15, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return exchange;
        }
        exchange.connected = true;
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(pause);
            }
            ::send(fd, pieces.at(i).constData(), size_t(pieces.at(i).size()), MSG_NOSIGNAL);
        }
        if (!readAnswer) {
            ::close(fd);
            return exchange;
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            exchange.answer.append(buffer, qsizetype(n));
        }
        ::close(fd);
        return exchange;
    });
}

// Runs this thread's event loop (the listener's) until the client is done.
inline Exchange finish(std::future<Exchange>& future) {
    QElapsedTimer timer;
    timer.start();
    while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
           timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return future.get();
}

// Connections opened from this thread and kept open (idle, or with `partial` written once connected),
// returned once the listener has had time to accept them and read what they sent.
inline std::vector<std::unique_ptr<QTcpSocket>> holdOpen(quint16 port, int count, const QByteArray& partial) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        sockets.push_back(std::move(socket));
    }
    const auto connecting = [&] {
        return std::any_of(sockets.begin(), sockets.end(), [](const auto& socket) {
            return socket->state() == QAbstractSocket::ConnectingState ||
                   socket->state() == QAbstractSocket::HostLookupState;
        });
    };
    QElapsedTimer timer;
    timer.start();
    while (connecting() && timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    for (const auto& socket : sockets) {
        if (!partial.isEmpty() && socket->state() == QAbstractSocket::ConnectedState) {
            socket->write(partial);
            socket->flush();
        }
    }
    QTest::qWait(200);
    return sockets;
}

inline int stillConnected(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
    return int(std::count_if(sockets.begin(), sockets.end(), [](const auto& socket) {
        return socket->state() == QAbstractSocket::ConnectedState;
    }));
}

inline int statusOf(const QByteArray& answer) {
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

inline QByteArray bodyOf(const QByteArray& answer) {
    const qsizetype end = answer.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : answer.mid(end + 4);
}

} // namespace RawHttpClient
