#pragma once

// A small client of the accessibility bus for tests that look at another program as assistive
// technology does: it finds the application by its accessible name under the registry's desktop, walks
// its showing objects for one of a role and a name, and reads where that object is on the screen. The bus
// address comes from org.a11y.Bus on the session bus (at-spi-bus-launcher starts it on demand), as the
// product's selection reader finds it. Calls block: they go to other processes, never to this one.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QRect>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class AtSpiClient {
public:
    struct Object {
        QString service;
        QString path;
    };

    // AtspiStateType bits.
    static constexpr int stateEnabled = 8;
    static constexpr int stateFocused = 12;
    static constexpr int stateShowing = 25;
    static constexpr int stateVisible = 30;

    AtSpiClient() = default;
    ~AtSpiClient() {
        if (!m_connectionName.isEmpty()) {
            QDBusConnection::disconnectFromBus(m_connectionName);
        }
    }
    AtSpiClient(const AtSpiClient&) = delete;
    AtSpiClient& operator=(const AtSpiClient&) = delete;

    // Connects to the accessibility bus; on failure `error` says why.
    bool connect(QString* error = nullptr) {
        QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                           QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
            QDBus::Block, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return fail(error, QStringLiteral("org.a11y.Bus.GetAddress: ") + reply.errorMessage());
        }
        const QString address = reply.arguments().first().toString();
        m_connectionName = QStringLiteral("test-accessibility-bus");
        QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
        if (!bus.isConnected()) {
            return fail(error, QStringLiteral("cannot connect to the accessibility bus at ") + address);
        }
        return true;
    }

    // The top-level applications under the registry's desktop.
    QList<Object> applications() {
        return children(
            {QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root")});
    }

    std::optional<Object> application(const QString& name) {
        for (const Object& app : applications()) {
            if (this->name(app) == name) {
                return app;
            }
        }
        return std::nullopt;
    }

    // The first showing object below `root` (breadth first, only through showing objects) with that role
    // name ("push button", "check box"…) and accessible name. Objects that are not showing (other pages,
    // hidden windows) and their subtrees are skipped.
    std::optional<Object> findShowing(const Object& root, const QString& roleName, const QString& name,
                                      int maximumObjects = 3000) {
        std::optional<Object> found;
        walkShowing(root, maximumObjects, [&](const Object& object) {
            if (this->name(object) == name && this->roleName(object) == roleName) {
                found = object;
                return false;
            }
            return true;
        });
        return found;
    }

    // Every showing object below `root` with that role name, as (name, object).
    QList<std::pair<QString, Object>> showingOfRole(const Object& root, const QString& roleName,
                                                    int maximumObjects = 3000) {
        QList<std::pair<QString, Object>> found;
        walkShowing(root, maximumObjects, [&](const Object& object) {
            if (this->roleName(object) == roleName) {
                found.append({this->name(object), object});
            }
            return true;
        });
        return found;
    }

    // The accessible names of every showing object below `root`, empty names left out.
    QStringList showingNames(const Object& root, int maximumObjects = 3000) {
        QStringList names;
        walkShowing(root, maximumObjects, [&](const Object& object) {
            if (const QString name = this->name(object); !name.isEmpty()) {
                names << name;
            }
            return true;
        });
        return names;
    }

    // The showing object below `root` that has the keyboard focus.
    std::optional<Object> focused(const Object& root, int maximumObjects = 3000) {
        std::optional<Object> found;
        walkShowing(root, maximumObjects, [&](const Object& object) {
            if (hasState(object, stateFocused)) {
                found = object;
                return false;
            }
            return true;
        });
        return found;
    }

    QString name(const Object& object) {
        const QDBusMessage reply = call(object, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")});
        if (!succeeded(reply)) {
            return {};
        }
        return reply.arguments().first().value<QDBusVariant>().variant().toString();
    }

    QString roleName(const Object& object) {
        const QDBusMessage reply = call(object, kAccessible, QStringLiteral("GetRoleName"));
        return succeeded(reply) ? reply.arguments().first().toString() : QString();
    }

    QList<Object> children(const Object& object) {
        QList<Object> result;
        const QDBusMessage reply = call(object, kAccessible, QStringLiteral("GetChildren"));
        if (!succeeded(reply)) {
            return result;
        }
        const QDBusArgument argument = reply.arguments().first().value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            QString service;
            QDBusObjectPath path;
            argument.beginStructure();
            argument >> service >> path;
            argument.endStructure();
            result.append({service, path.path()});
        }
        argument.endArray();
        return result;
    }

    quint64 states(const Object& object) {
        const QDBusMessage reply = call(object, kAccessible, QStringLiteral("GetState"));
        if (!succeeded(reply)) {
            return 0;
        }
        QList<uint> words;
        const QDBusArgument argument = reply.arguments().first().value<QDBusArgument>();
        argument >> words;
        quint64 bits = 0;
        for (int i = 0; i < words.size() && i < 2; ++i) {
            bits |= quint64(words[i]) << (32 * i);
        }
        return bits;
    }
    bool hasState(const Object& object, int state) { return (states(object) >> state) & 1U; }

    // The object's rectangle in screen coordinates (org.a11y.atspi.Component, ATSPI_COORD_TYPE_SCREEN).
    std::optional<QRect> screenExtents(const Object& object) {
        const QDBusMessage reply = call(object, QStringLiteral("org.a11y.atspi.Component"),
                                        QStringLiteral("GetExtents"), {QVariant::fromValue(uint(0))});
        if (!succeeded(reply)) {
            return std::nullopt;
        }
        int x = 0, y = 0, width = 0, height = 0;
        const QDBusArgument argument = reply.arguments().first().value<QDBusArgument>();
        argument.beginStructure();
        argument >> x >> y >> width >> height;
        argument.endStructure();
        return QRect(x, y, width, height);
    }

    // The text of an object with the Text interface; nothing when it has none.
    std::optional<QString> text(const Object& object) {
        const QDBusMessage reply = call(object, QStringLiteral("org.a11y.atspi.Text"),
                                        QStringLiteral("GetText"), {QVariant(0), QVariant(-1)});
        if (!succeeded(reply)) {
            return std::nullopt;
        }
        return reply.arguments().first().toString();
    }

private:
    inline static const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

    template <typename Visit> void walkShowing(const Object& root, int maximumObjects, Visit visit) {
        std::deque<Object> queue{root};
        int visited = 0;
        while (!queue.empty() && visited++ < maximumObjects) {
            const Object object = queue.front();
            queue.pop_front();
            for (const Object& child : children(object)) {
                if (!hasState(child, stateShowing)) {
                    continue;
                }
                if (!visit(child)) {
                    return;
                }
                queue.push_back(child);
            }
        }
    }

    QDBusMessage call(const Object& object, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
        message.setArguments(arguments);
        return QDBusConnection(m_connectionName).call(message, QDBus::Block, 5000);
    }

    static bool succeeded(const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    }
    static bool fail(QString* error, const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    }

    QString m_connectionName;
};
