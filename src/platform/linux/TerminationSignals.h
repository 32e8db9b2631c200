#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into the `received` signal on the thread that created the object (the
// main thread). The signal handler only writes the signal's number into a pipe; a socket notifier reads it
// on that thread, so whatever reacts runs as ordinary code, never inside the handler.
//
// One instance at a time. The previous handlers come back when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be set up (the default actions then stay).
    bool isActive() const { return m_notifier != nullptr; }

    // "SIGTERM", "SIGINT", "SIGHUP", else "signal <n>".
    static QString name(int signal);

signals:
    void received(int signal);

private:
    void readPending();

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
