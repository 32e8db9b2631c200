#pragma once

#include <QDBusConnection>
#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

// Reads the text selection of the focused accessible object through AT-SPI2 on the accessibility bus:
// the accessible application of the given process, its active window, the object there
// whose state says FOCUSED, and that object's Text interface (first selection).
//
// Every D-Bus call is asynchronous with a short time-out, so a program that does not answer delays the
// caller by at most a moment and never blocks the main thread.
class AtSpiSelectionReader {
public:
    // Status numbers for the logs: 0 when the lookup worked but found nothing, negative for failures.
    static constexpr int statusNothingFound = 0;
    static constexpr int statusBusUnavailable = -1;  // no accessibility bus, or it does not answer
    static constexpr int statusNoApplication = -2;   // no accessible application for the process
    static constexpr int statusRequestFailed = -3;   // a request failed or timed out
    static constexpr int statusNoTextInterface = -4; // the focused object has no text

    static constexpr int callTimeoutMs = 800;
    static constexpr int maximumObjectsVisited = 400;

    AtSpiSelectionReader();
    ~AtSpiSelectionReader();
    AtSpiSelectionReader(const AtSpiSelectionReader&) = delete;
    AtSpiSelectionReader& operator=(const AtSpiSelectionReader&) = delete;

    struct Result {
        enum class Outcome { NoFocusedObject, TextUnavailable, Text };
        Outcome outcome = Outcome::NoFocusedObject;
        int status = statusNothingFound;
        QString text; // the selected text exactly as read (Outcome::Text)
    };

    // The focused object's selection in the application of `processId` (never another application's,
    // which may have a focused object of its own). Our own process is never asked.
    QCoro::Task<Result> readFocusedSelection(qint64 processId);

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
