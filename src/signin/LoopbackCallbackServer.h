#pragma once

#include "CallbackRequestParser.h"
#include "OAuthCallback.h"
#include "SignInCancellation.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <deque>
#include <optional>

class QTcpSocket;

// The loopback HTTP listener that receives the browser's return from an identity provider, for one
// sign-in attempt. It listens on a loopback address only, reads each request to the end of its head plus
// its Content-Length (at most 64 KiB, within readTimeout of the connection), and keeps the first callback
// that carries the attempt's state until the attempt takes it. Every other request (another path, another
// state or none) is answered with an error and the wait goes on, so another local process or a web page
// can neither end nor steer the sign-in. Connections that send nothing or too little never hold up the
// callback: each one is dropped after readTimeout, and when too many are open the oldest idle one goes.
// How a callback is recognised and answered comes from its CallbackProfile.
class LoopbackCallbackServer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds readTimeout{10000};
    // Connections still being read at once; beyond it the oldest idle one is dropped for the newcomer.
    static constexpr int maxOpenConnections = 64;

    explicit LoopbackCallbackServer(CallbackProfile profile, QObject* parent = nullptr);
    ~LoopbackCallbackServer() override;

    // Binds `address` (which must be a loopback address) and `port` (0: a free one). On failure returns
    // false and leaves the reason in errorString() and serverError() (AddressInUseError: another program
    // holds the port).
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    bool isListening() const;
    quint16 port() const;
    QHostAddress address() const;
    QString errorString() const { return m_errorString; }
    QAbstractSocket::SocketError serverError() const { return m_serverError; }

    // The state this attempt sent to the provider. Until it is set, no request is the callback.
    void expectState(const QString& state) { m_expectedState = state; }

    // Closes the listener and every open connection. Safe to call more than once, and from inside a
    // callback of this server.
    void stop();

    // The first callback: at once when it already came, else when it comes. No result when `timeout` runs
    // out first; throws SignInCancelled as soon as `cancel` fires.
    QCoro::Task<std::optional<OAuthCallback>> waitForCallback(std::chrono::milliseconds timeout,
                                                              SignInCancelToken cancel);

private:
    void acceptConnections();
    void makeRoomForOneMore();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, int status, const QByteArray& page);
    void deliver(const OAuthCallback& callback);

    CallbackProfile m_profile;
    QPointer<QTcpServer> m_server;
    QString m_errorString;
    QAbstractSocket::SocketError m_serverError = QAbstractSocket::UnknownSocketError;
    QString m_expectedState;
    bool m_foreignRequestLogged = false;
    std::deque<QPointer<QTcpSocket>> m_reading; // accepted and not answered yet, oldest first
    std::optional<OAuthCallback> m_first;
    bool m_firstTaken = false;
    std::optional<PendingValue<std::optional<OAuthCallback>>> m_waiter;
};
