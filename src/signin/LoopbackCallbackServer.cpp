#include "LoopbackCallbackServer.h"

#include "AppLogger.h"
#include "Scheduler.h"

#include <QTcpSocket>

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
        return false;
    }
    stop();
    auto* server = new QTcpServer(this);
    server->setMaxPendingConnections(maxConnections);
    if (!server->listen(address, port)) {
        m_errorString = server->errorString();
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
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (m_server->findChildren<QTcpSocket*>().size() > maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
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
    const CallbackVerdict verdict = CallbackRequestParser::interpret(read.request, m_profile);
    answer(socket, verdict.httpStatus, verdict.page);
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
