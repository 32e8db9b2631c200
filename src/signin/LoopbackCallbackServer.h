#pragma once

#include "CallbackRequestParser.h"
#include "OAuthCallback.h"
#include "SignInCancellation.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QTcpSocket;

// The loopback HTTP listener that receives the browser's return from an identity provider, for one
// sign-in attempt. It listens on a loopback address only, reads each request to the end of its head plus
// its Content-Length (at most 64 KiB, within a short time), answers everything that is not the callback
// with 404 and keeps waiting, and keeps the first callback until the attempt takes it. How a callback is
// recognised and answered comes from its CallbackProfile.
class LoopbackCallbackServer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds readTimeout{10000};
    static constexpr int maxConnections = 16;

    explicit LoopbackCallbackServer(CallbackProfile profile, QObject* parent = nullptr);
    ~LoopbackCallbackServer() override;

    // Binds `address` (which must be a loopback address) and `port` (0: a free one). On failure returns
    // false and leaves the reason in errorString().
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    bool isListening() const;
    quint16 port() const;
    QHostAddress address() const;
    QString errorString() const { return m_errorString; }

    // Closes the listener and every open connection. Safe to call more than once, and from inside a
    // callback of this server.
    void stop();

    // The first callback: at once when it already came, else when it comes. No result when `timeout` runs
    // out first; throws SignInCancelled as soon as `cancel` fires.
    QCoro::Task<std::optional<OAuthCallback>> waitForCallback(std::chrono::milliseconds timeout,
                                                              SignInCancelToken cancel);

private:
    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, int status, const QByteArray& page);
    void deliver(const OAuthCallback& callback);

    CallbackProfile m_profile;
    QPointer<QTcpServer> m_server;
    QString m_errorString;
    std::optional<OAuthCallback> m_first;
    bool m_firstTaken = false;
    std::optional<PendingValue<std::optional<OAuthCallback>>> m_waiter;
};
