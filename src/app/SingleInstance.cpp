#include "SingleInstance.h"

#include "AppLogger.h"
#include "RuntimeDirectory.h"
#include "TextUtilities.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
const QString kLockName = QStringLiteral("quillvane.lock");
const QString kSocketName = QStringLiteral("quillvane.socket");
const QByteArray kShowRequest = "show\n";
const QByteArray kShownAnswer = "shown\n";
} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), m_folder(folder.isEmpty() ? RuntimeDirectory::path() : std::move(folder)) {}

SingleInstance::~SingleInstance() {
    if (m_server) {
        m_server->close(); // removes the socket file while we still hold the lock
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

SingleInstance::Role SingleInstance::claim() {
    if (m_folder.isEmpty()) {
        AppLogger::error(
            QStringLiteral("No private runtime folder: cannot tell whether Quillvane already runs"));
        return Role::Alone;
    }
    const QByteArray lockPath = QFile::encodeName(QDir(m_folder).filePath(kLockName));
    // Close-on-exec: a program we start (the browser for sign-in) must not keep the lock after we end.
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        AppLogger::error(QStringLiteral("Cannot open the instance lock %1: %2")
                             .arg(QFile::decodeName(lockPath), Text::systemErrorText(errno)));
        return Role::Alone;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_lockFd);
        m_lockFd = -1;
        if (error == EWOULDBLOCK) {
            return Role::Second;
        }
        AppLogger::error(QStringLiteral("Cannot lock %1: %2")
                             .arg(QFile::decodeName(lockPath), Text::systemErrorText(error)));
        return Role::Alone;
    }
    const QString socketPath = QDir(m_folder).filePath(kSocketName);
    QLocalServer::removeServer(socketPath); // left by an instance that was killed; the lock is ours now
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath)) {
        AppLogger::error(QStringLiteral("Cannot listen on %1: %2").arg(socketPath, m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serveConnection);
    return Role::First;
}

void SingleInstance::serveConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64) {
                    socket->abort(); // no request of ours is that long
                }
                return;
            }
            if (socket->readLine() != kShowRequest) {
                socket->abort();
                return;
            }
            AppLogger::info(QStringLiteral("Another start of Quillvane asked for the dashboard; showing it"));
            if (onShowRequested) {
                onShowRequested();
            }
            socket->write(kShownAnswer);
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstance::askRunningInstanceToShow() {
    const QString socketPath = QDir(m_folder).filePath(kSocketName);
    QElapsedTimer elapsed;
    elapsed.start();
    const auto left = [&elapsed] { return std::max<int>(0, int(answerLimit.count() - elapsed.elapsed())); };
    // The running instance may have taken the lock an instant ago and not be listening yet: try again.
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(left())) {
            socket.write(kShowRequest);
            if (!socket.waitForBytesWritten(left())) {
                return false;
            }
            while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
                   socket.waitForReadyRead(left())) {
            }
            return socket.canReadLine() && socket.readLine() == kShownAnswer;
        }
        if (left() <= 0) {
            return false;
        }
        QThread::msleep(50);
    }
}
