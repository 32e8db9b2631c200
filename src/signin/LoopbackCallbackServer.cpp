#include "LoopbackCallbackServer.h"

#include "AppLogger.h"
#include "Scheduler.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 413:
        return "Content Too Large";
    default:
        return "Error";
    }
}

constexpr const char* receivedProperty = "quillvaneReceived";
constexpr const char* answeredProperty = "quillvaneAnswered";

} // namespace

LoopbackCallbackServer::LoopbackCallbackServer(CallbackProfile profile, QObject* parent)
    : QObject(parent), m_profile(std::move(profile)) {}

LoopbackCallbackServer::~LoopbackCallbackServer() {
    stop();
}

bool LoopbackCallbackServer::listen(const QHostAddress& address, quint16 port) {
    if (!address.isLoopback()) {
        m_errorString = QStringLiteral("%1 is not a loopback address").arg(address.toString());
        m_serverError = QAbstractSocket::UnsupportedSocketOperationError;
        return false;
    }
    stop();
    auto* server = new QTcpServer(this);
    // Connections are taken off the queue as soon as they come; a deep backlog only keeps a burst of
    // connects from being refused by the kernel before that.
    server->setListenBacklogSize(maxOpenConnections * 2);
    if (!server->listen(address, port)) {
        m_errorString = server->errorString();
        m_serverError = server->serverError();
        server->deleteLater();
        return false;
    }
    m_server = server;
    connect(server, &QTcpServer::newConnection, this, &LoopbackCallbackServer::acceptConnections);
    AppLogger::info(m_profile.readyLogPrefix + QStringLiteral(" ready on port ") +
                    QString::number(server->serverPort()));
    return true;
}

bool LoopbackCallbackServer::isListening() const {
    return m_server && m_server->isListening();
}

quint16 LoopbackCallbackServer::port() const {
    return m_server ? m_server->serverPort() : 0;
}

QHostAddress LoopbackCallbackServer::address() const {
    return m_server ? m_server->serverAddress() : QHostAddress();
}

void LoopbackCallbackServer::stop() {
    m_reading.clear();
    if (m_server) {
        m_server->close();
        for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>()) {
            socket->disconnect(this);
            if (!socket->property(answeredProperty).toBool()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            // An answer still on its way to the browser is let go on its own, for a while at most.
            socket->setParent(nullptr);
            QPointer<QTcpSocket> guarded(socket);
            Scheduler::current().singleShot(std::chrono::duration_cast<Scheduler::Duration>(readTimeout),
                                            [guarded] {
                                                if (guarded) {
                                                    guarded->abort();
                                                    guarded->deleteLater();
                                                }
                                            });
        }
        m_server->deleteLater();
        m_server = nullptr;
    }
}

void LoopbackCallbackServer::acceptConnections() {
    while (m_server && m_server->hasPendingConnections()) {
        makeRoomForOneMore();
        QTcpSocket* socket = m_server->nextPendingConnection();
        m_reading.emplace_back(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A connection that sends nothing, or too little, is dropped after a while without an answer.
        QPointer<QTcpSocket> guarded(socket);
        TimerHandle timer = Scheduler::current().singleShot(
            std::chrono::duration_cast<Scheduler::Duration>(readTimeout), [guarded] {
                if (guarded && !guarded->property(answeredProperty).toBool()) {
                    guarded->abort();
                    guarded->deleteLater();
                }
            });
        connect(socket, &QObject::destroyed, [timer]() mutable { timer.cancel(); });
        readFrom(socket);
    }
}

void LoopbackCallbackServer::makeRoomForOneMore() {
    std::erase_if(m_reading, [](const QPointer<QTcpSocket>& socket) {
        return !socket || socket->property(answeredProperty).toBool();
    });
    while (m_reading.size() >= size_t(maxOpenConnections)) {
        // A connection that has sent nothing yet (an idle or preconnected socket) goes first; the browser
        // opens a new one when it needs to. Only when every one has sent part of a request does the oldest
        // go.
        auto victim =
            std::find_if(m_reading.begin(), m_reading.end(), [](const QPointer<QTcpSocket>& socket) {
                return socket->property(receivedProperty).toByteArray().isEmpty() &&
                       socket->bytesAvailable() == 0;
            });
        if (victim == m_reading.end()) {
            victim = m_reading.begin();
        }
        QTcpSocket* socket = *victim;
        m_reading.erase(victim);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void LoopbackCallbackServer::readFrom(QTcpSocket* socket) {
    if (socket->property(answeredProperty).toBool()) {
        socket->readAll(); // whatever follows the request is not read
        return;
    }
    QByteArray received = socket->property(receivedProperty).toByteArray() + socket->readAll();
    if (received.isEmpty()) {
        return;
    }
    const CallbackReadResult read = CallbackRequestParser::read(received);
    using Status = CallbackReadResult::Status;
    switch (read.status) {
    case Status::Incomplete:
        socket->setProperty(receivedProperty, received);
        return;
    case Status::TooLarge:
        answer(socket, 413, QByteArrayLiteral("Request too large"));
        return;
    case Status::Malformed:
        answer(socket, 400, QByteArrayLiteral("Bad Request"));
        return;
    case Status::Complete:
        break;
    }
    const CallbackVerdict verdict =
        CallbackRequestParser::interpret(read.request, m_profile, m_expectedState);
    answer(socket, verdict.httpStatus, verdict.page);
    if (verdict.httpStatus == 400 && !m_foreignRequestLogged) {
        m_foreignRequestLogged = true; // once: a flood of them must not flood the log
        AppLogger::info(m_profile.readyLogPrefix +
                        QStringLiteral(" refused a request without this sign-in's state; still waiting"));
    }
    if (verdict.callback) {
        deliver(*verdict.callback);
    }
}

void LoopbackCallbackServer::answer(QTcpSocket* socket, int status, const QByteArray& page) {
    socket->setProperty(answeredProperty, true);
    socket->setProperty(receivedProperty, QVariant());
    const QByteArray contentType = status == 200 ? QByteArrayLiteral("text/html; charset=utf-8")
                                                 : QByteArrayLiteral("text/plain; charset=utf-8");
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    reply += "Content-Type: " + contentType + "\r\n";
    reply += "Content-Length: " + QByteArray::number(page.size()) + "\r\n";
    reply += "Connection: close\r\n\r\n";
    reply += page;
    socket->write(reply);
    socket->disconnectFromHost(); // closes once the reply is written
}

void LoopbackCallbackServer::deliver(const OAuthCallback& callback) {
    if (m_first) {
        return; // only the first callback counts; later ones were answered and are dropped
    }
    m_first = callback;
    if (m_waiter && !m_firstTaken) {
        m_firstTaken = true;
        m_waiter->resolve(m_first);
    }
}

QCoro::Task<std::optional<OAuthCallback>>
LoopbackCallbackServer::waitForCallback(std::chrono::milliseconds timeout, SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    if (m_first && !m_firstTaken) {
        m_firstTaken = true;
        co_return m_first;
    }
    PendingValue<std::optional<OAuthCallback>> pending;
    m_waiter = pending;
    TimerHandle timer =
        Scheduler::current().singleShot(std::chrono::duration_cast<Scheduler::Duration>(timeout),
                                        [pending]() mutable { pending.resolve(std::nullopt); });
    const auto subscription =
        cancel.onCancel([pending]() mutable { pending.fail(std::make_exception_ptr(SignInCancelled())); });
    QPointer<LoopbackCallbackServer> self(this);
    std::exception_ptr error;
    std::optional<OAuthCallback> result;
    try {
        result = co_await pending;
    } catch (...) {
        error = std::current_exception();
    }
    timer.cancel();
    if (self) {
        m_waiter.reset();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    co_return result;
}
