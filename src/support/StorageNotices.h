#pragma once

#include <QList>
#include <QObject>
#include <QString>

// What the user should know about the files that keep their data, one sentence each: a file that could
// not be read and was set aside (with the path it was kept at), a folder where nothing can be saved. The
// stores report here; the home page shows the sentences. Process-wide, main thread.
class StorageNotices : public QObject {
    Q_OBJECT
public:
    static StorageNotices& instance();

    // Adds or replaces the notice under `key` (one per file or folder).
    void report(const QString& key, const QString& text);
    // Takes back the notice under `key`, if any (the folder became writable again).
    void withdraw(const QString& key);
    // Forgets every notice (tests).
    void clear();

    // The sentences, in the order they were first reported.
    QStringList texts() const;

signals:
    void changed();

private:
    StorageNotices() = default;

    struct Notice {
        QString key;
        QString text;
    };
    QList<Notice> m_notices;
};
