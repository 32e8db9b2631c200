#pragma once

#include "AccessibleSelectionReader.h"

#include <QDBusConnection>

#include <optional>

// Reads the text selection of the focused accessible object through AT-SPI2 on the accessibility bus:
// the accessible application of the given process, its active window, the object there
// whose state says FOCUSED, and that object's Text interface (first selection).
//
// Every D-Bus call is asynchronous with a short time-out, so a program that does not answer delays the
// caller by at most a moment and never blocks the main thread.
class AtSpiSelectionReader : public AccessibleSelectionReader {
public:
    static constexpr int callTimeoutMs = 800;
    static constexpr int maximumObjectsVisited = 400;

    AtSpiSelectionReader();
    ~AtSpiSelectionReader() override;
    AtSpiSelectionReader(const AtSpiSelectionReader&) = delete;
    AtSpiSelectionReader& operator=(const AtSpiSelectionReader&) = delete;

    QCoro::Task<Result> readFocusedSelection(qint64 processId) override;

private:
    struct ObjectRef {
        QString service;
        QString path;
    };

    QCoro::Task<std::optional<QDBusConnection>> accessibilityBus();
    QCoro::Task<std::optional<ObjectRef>> findFocused(QDBusConnection bus, ObjectRef application,
                                                      int* status);

    QString m_connectionName; // our own connection to the accessibility bus
    QString m_busAddress;
};
