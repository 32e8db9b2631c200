#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class QLocalServer;

// One Quillvane per user: two would paste every dictation twice and overwrite each other's stores (launch
// at login plus a start from the menu is the usual way to get two).
//
// The first start holds an exclusive lock (flock) on "quillvane.lock" in the private runtime folder for
// its whole life, and listens on the local socket "quillvane.socket" beside it. The kernel drops the lock
// with the process however it ends, so a killed instance never blocks the next start; the socket file it
// left is replaced by the next holder of the lock. A later start finds the lock taken, asks the running
// instance to show its dashboard window over the socket, and ends.
//
// Main thread only.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Role {
        First,  // we hold the lock and answer later starts
        Second, // another instance holds it
        Alone,  // no private runtime folder or no lock could be had: we run without the check
    };

    static constexpr std::chrono::milliseconds answerLimit{5000};

    // `folder` empty: the private runtime folder (RuntimeDirectory::path()).
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock; as First, listens for later starts from now on (they are answered once the event
    // loop runs).
    Role claim();

    // As Second: asks the running instance to show its window and waits (blocking, at most
    // `answerLimit`) for it to say it did. False when it did not answer.
    bool askRunningInstanceToShow();

    // Shows and raises the dashboard window; set by the application once its window exists.
    std::function<void()> onShowRequested;

private:
    void serveConnection();

    QString m_folder;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};
