#include "AtSpiSelectionReader.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <qcoro/qcorosignal.h>

#include <deque>

namespace {
const QString kAccessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString kTextInterface = QStringLiteral("org.a11y.atspi.Text");
const QString kRegistryService = QStringLiteral("org.a11y.atspi.Registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");

// AtspiStateType bits.
constexpr int kStateActive = 1;
constexpr int kStateFocused = 12;
constexpr int kStateShowing = 25;

// Receives one reply (or error) of an asynchronous call, in the main thread.
class ReplyCatcher : public QObject {
    Q_OBJECT

public:
    QDBusMessage reply;
    bool done = false;

signals:
    void finished();

public slots:
    void onReply(const QDBusMessage& message) {
        reply = message;
        done = true;
        emit finished();
    }
    void onError(const QDBusError& error, const QDBusMessage&) {
        reply = QDBusMessage::createError(error);
        done = true;
        emit finished();
    }
};

QCoro::Task<QDBusMessage> call(QDBusConnection connection, QDBusMessage message, int timeoutMs) {
    // Deleted later: the coroutine resumes from within the catcher's own signal.
    auto* catcher = new ReplyCatcher;
    if (!connection.callWithCallback(message, catcher, SLOT(onReply(QDBusMessage)),
                                     SLOT(onError(QDBusError, QDBusMessage)), timeoutMs)) {
        catcher->deleteLater();
        co_return QDBusMessage::createError(connection.lastError());
    }
    if (!catcher->done) {
        co_await qCoro(catcher, &ReplyCatcher::finished);
    }
    const QDBusMessage reply = catcher->reply;
    catcher->deleteLater();
    co_return reply;
}

QDBusMessage accessibleCall(const QString& service, const QString& path, const QString& interface,
                            const QString& method, const QList<QVariant>& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return message;
}

bool succeeded(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

struct Ref {
    QString service;
    QString path;
};

QList<Ref> objectRefs(const QVariant& value) {
    QList<Ref> refs;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType) {
        return refs;
    }
    argument.beginArray();
    while (!argument.atEnd()) {
        QString service;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> service >> path;
        argument.endStructure();
        refs.append({service, path.path()});
    }
    argument.endArray();
    return refs;
}

quint64 stateBits(const QVariant& value) {
    const QList<uint> words = qdbus_cast<QList<uint>>(value);
    quint64 bits = 0;
    for (int i = 0; i < words.size() && i < 2; ++i) {
        bits |= static_cast<quint64>(words[i]) << (32 * i);
    }
    return bits;
}

bool hasState(quint64 bits, int state) {
    return (bits >> state) & 1U;
}
} // namespace

AtSpiSelectionReader::AtSpiSelectionReader()
    : m_connectionName(
          QStringLiteral("quillvane-accessibility-bus-%1").arg(reinterpret_cast<quintptr>(this))) {}

AtSpiSelectionReader::~AtSpiSelectionReader() {
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QCoro::Task<std::optional<QDBusConnection>> AtSpiSelectionReader::accessibilityBus() {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        co_return std::nullopt;
    }
    const QDBusMessage reply = co_await call(
        session,
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
        2 * callTimeoutMs);
    if (!succeeded(reply)) {
        co_return std::nullopt;
    }
    const QString address = reply.arguments().first().toString();
    if (address.isEmpty()) {
        co_return std::nullopt;
    }
    if (address != m_busAddress || !QDBusConnection(m_connectionName).isConnected()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_busAddress = address;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_busAddress.clear();
        co_return std::nullopt;
    }
    co_return bus;
}

QCoro::Task<AtSpiSelectionReader::Result> AtSpiSelectionReader::readFocusedSelection(qint64 processId) {
    using Outcome = Result::Outcome;
    const std::optional<QDBusConnection> maybeBus = co_await accessibilityBus();
    if (!maybeBus) {
        const Result result{Outcome::NoFocusedObject, statusBusUnavailable, QString()};
        co_return result;
    }
    const QDBusConnection bus = *maybeBus;

    const QDBusMessage applications = co_await call(
        bus, accessibleCall(kRegistryService, kRootPath, kAccessibleInterface, QStringLiteral("GetChildren")),
        callTimeoutMs);
    if (!succeeded(applications)) {
        const Result result{Outcome::NoFocusedObject, statusBusUnavailable, QString()};
        co_return result;
    }

    const qint64 ownProcess = QCoreApplication::applicationPid();
    int status = statusNoApplication;
    std::optional<ObjectRef> focused;
    const QList<Ref> applicationRefs = objectRefs(applications.arguments().first());
    for (const Ref& application : applicationRefs) {
        const QDBusMessage pidCall = accessibleCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"),
            QVariantList{QVariant(application.service)});
        const QDBusMessage pidReply = co_await call(bus, pidCall, callTimeoutMs);
        if (!succeeded(pidReply)) {
            continue;
        }
        const qint64 pid = pidReply.arguments().first().toLongLong();
        if (pid == ownProcess || pid != processId) {
            continue;
        }
        int searchStatus = statusNothingFound;
        // A named argument: GCC 12 destroys a braced aggregate temporary passed to a coroutine twice.
        const ObjectRef root{application.service, application.path};
        focused = co_await findFocused(bus, root, &searchStatus);
        status = searchStatus;
        if (focused) {
            break;
        }
    }
    if (!focused) {
        const Result result{Outcome::NoFocusedObject, status, QString()};
        co_return result;
    }

    const QDBusMessage count = co_await call(
        bus,
        accessibleCall(focused->service, focused->path, kTextInterface, QStringLiteral("GetNSelections")),
        callTimeoutMs);
    if (count.type() == QDBusMessage::ErrorMessage &&
        (count.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
         count.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"))) {
        const Result result{Outcome::TextUnavailable, statusNoTextInterface, QString()};
        co_return result;
    }
    if (!succeeded(count)) {
        const Result result{Outcome::TextUnavailable, statusRequestFailed, QString()};
        co_return result;
    }
    if (count.arguments().first().toInt() < 1) {
        const Result result{Outcome::Text, statusNothingFound, QString()}; // nothing selected
        co_return result;
    }
    const QDBusMessage rangeCall = accessibleCall(focused->service, focused->path, kTextInterface,
                                                  QStringLiteral("GetSelection"), QVariantList{QVariant(0)});
    const QDBusMessage range = co_await call(bus, rangeCall, callTimeoutMs);
    if (!succeeded(range) || range.arguments().size() < 2) {
        const Result result{Outcome::TextUnavailable, statusRequestFailed, QString()};
        co_return result;
    }
    const int start = range.arguments().at(0).toInt();
    const int end = range.arguments().at(1).toInt();
    const QDBusMessage textCall =
        accessibleCall(focused->service, focused->path, kTextInterface, QStringLiteral("GetText"),
                       QVariantList{QVariant(start), QVariant(end)});
    const QDBusMessage text = co_await call(bus, textCall, callTimeoutMs);
    if (!succeeded(text) || text.arguments().first().metaType() != QMetaType::fromType<QString>()) {
        const Result result{Outcome::TextUnavailable, statusRequestFailed, QString()};
        co_return result;
    }
    const Result result{Outcome::Text, statusNothingFound, text.arguments().first().toString()};
    co_return result;
}

QCoro::Task<std::optional<AtSpiSelectionReader::ObjectRef>>
AtSpiSelectionReader::findFocused(QDBusConnection bus, ObjectRef application, int* status) {
    // Breadth first from the application: its active windows, then whatever is showing inside them.
    struct Node {
        ObjectRef ref;
        int depth;
    };
    std::deque<Node> queue;
    queue.push_back(Node{application, 0});
    int visited = 0;
    while (!queue.empty() && visited < maximumObjectsVisited) {
        const Node node = queue.front();
        queue.pop_front();
        ++visited;
        const QDBusMessage children =
            co_await call(bus,
                          accessibleCall(node.ref.service, node.ref.path, kAccessibleInterface,
                                         QStringLiteral("GetChildren")),
                          callTimeoutMs);
        if (!succeeded(children)) {
            *status = statusRequestFailed;
            co_return std::nullopt;
        }
        QList<std::pair<ObjectRef, quint64>> shown;
        bool anyActive = false;
        const QList<Ref> childRefs = objectRefs(children.arguments().first());
        for (const Ref& child : childRefs) {
            const QDBusMessage state = co_await call(
                bus,
                accessibleCall(child.service, child.path, kAccessibleInterface, QStringLiteral("GetState")),
                callTimeoutMs);
            if (!succeeded(state)) {
                *status = statusRequestFailed;
                co_return std::nullopt;
            }
            const quint64 bits = stateBits(state.arguments().first());
            if (hasState(bits, kStateFocused)) {
                co_return ObjectRef{child.service, child.path};
            }
            anyActive = anyActive || hasState(bits, kStateActive);
            shown.append({ObjectRef{child.service, child.path}, bits});
        }
        for (const auto& [ref, bits] : shown) {
            // Among the application's windows only the active one; below, only what is showing.
            const bool wanted = node.depth == 0 ? (!anyActive || hasState(bits, kStateActive))
                                                : hasState(bits, kStateShowing);
            if (wanted) {
                queue.push_back({ref, node.depth + 1});
            }
        }
    }
    *status = statusNothingFound;
    co_return std::nullopt;
}

#include "AtSpiSelectionReader.moc"
