#pragma once

#include "JSONValue.h"
#include "JsonFileStore.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <utility>

// What the user changed in the synced configuration that the cloud copy does not hold yet: the settings
// keys they edited, and the snippets and dictionary terms they deleted or renamed away (tombstones). A
// merge of the cloud copy leaves these alone, so an edit made while the backend could not be reached is
// not undone by the next pull; a successful push settles them.
//
// Changes are found by comparing the stores' state with the state seen last, so a change that sets an
// equal value records nothing. Entries of the knowledge base are told apart by id locally; a tombstone
// also keeps the title (or term), because the cloud's entries carry no ids and the merge matches them by
// that key (trimmed, lower-cased, NFC).
//
// Kept in "config-sync-pending.json" beside the stores' files, readable by its owner only, and rewritten
// whenever it changes, so a restart before the next successful sync keeps it. Main thread only.
class PendingConfigEdits {
public:
    static constexpr const char* kFileName = "config-sync-pending.json";

    // One state of the synced configuration: the cloud settings map and the entries as (id, title/term).
    struct State {
        JSONValue::Object settings;
        QList<std::pair<QUuid, QString>> snippets;
        QList<std::pair<QUuid, QString>> dictionary;
    };

    // The pending changes one push carries, each with the mark of its latest change.
    struct Ticket {
        QHash<QString, quint64> settings;
        QHash<QString, quint64> snippets;   // by merge key
        QHash<QString, quint64> dictionary; // by merge key
    };

    // `folder` holds the file; empty means the app's data folder. Loads what an earlier run left.
    explicit PendingConfigEdits(const QString& folder = {});

    // Takes `now` as the state seen last without recording anything (the stores' state at start-up, or
    // right after a merge of the cloud copy).
    void rebase(State now);
    // Records what changed between the state seen last and `now`: every settings key whose value
    // differs, and a tombstone for every entry that is gone or whose key changed (unless another entry
    // still has that key). An entry that has a tombstoned key again lifts the tombstone. Then takes `now`
    // as the state seen last.
    void observe(State now);

    bool isEmpty() const;
    QSet<QString> editedSettings() const;
    bool isDeletedSnippet(const QString& title) const;
    bool isDeletedTerm(const QString& term) const;

    Ticket ticket() const;
    // The push of `ticket` succeeded: forgets each change it carried unless it changed again since.
    void settle(const Ticket& ticket);

    QString filePath() const { return m_file.filePath(); }

private:
    struct Tombstone {
        QUuid id;
        QString text; // the title or term as it was
        quint64 mark = 0;
    };
    using Entries = QList<std::pair<QUuid, QString>>;

    bool recordDeletions(const Entries& before, const Entries& after, QHash<QString, Tombstone>& tombstones);
    void load();
    void save();

    JsonFileStore m_file;
    State m_seen;
    QHash<QString, quint64> m_settings;
    QHash<QString, Tombstone> m_snippets;
    QHash<QString, Tombstone> m_dictionary;
    quint64 m_lastMark = 0;
};
