#include "PendingConfigEdits.h"

#include "AppLogger.h"
#include "JsonDecoding.h"
#include "KnowledgeBaseStore.h"
#include "TextUtilities.h"

#include <algorithm>

namespace {

// The file's records. Marks are not stored: they only order the changes of one run.
struct StoredTombstone {
    QString id;
    QString text;

    template <class IO> void serialize(IO& io) {
        io.required("id", id);
        io.required("text", text);
    }
};

struct StoredEdits {
    QList<QString> settings;
    QList<StoredTombstone> snippets;
    QList<StoredTombstone> dictionary;

    template <class IO> void serialize(IO& io) {
        io.required("settings", settings);
        io.required("snippets", snippets);
        io.required("dictionary", dictionary);
    }
};

bool sameValue(const JSONValue& a, const JSONValue& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    switch (a.kind()) {
    case JSONValue::Kind::String:
        return a.stringValue() == b.stringValue();
    case JSONValue::Kind::Number:
        return a.numberValue() == b.numberValue();
    case JSONValue::Kind::Bool:
        return a.boolValue() == b.boolValue();
    case JSONValue::Kind::Null:
        return true;
    case JSONValue::Kind::Object:
        return std::equal(
            a.objectValue().begin(), a.objectValue().end(), b.objectValue().begin(), b.objectValue().end(),
            [](const auto& x, const auto& y) { return x.first == y.first && sameValue(x.second, y.second); });
    case JSONValue::Kind::Array:
        return std::equal(a.arrayValue().begin(), a.arrayValue().end(), b.arrayValue().begin(),
                          b.arrayValue().end(), sameValue);
    }
    return false;
}

QString mergeKey(const QString& text) {
    return KnowledgeBaseStore::sortKey(text);
}

} // namespace

PendingConfigEdits::PendingConfigEdits(const QString& folder)
    : m_file(QLatin1String(kFileName), QStringLiteral("pending configuration edits"), folder) {
    m_file.restrictToOwner();
    load();
}

void PendingConfigEdits::rebase(State now) {
    m_seen = std::move(now);
}

void PendingConfigEdits::observe(State now) {
    bool changed = false;
    QSet<QString> keys;
    for (const auto& [key, value] : m_seen.settings) {
        keys.insert(key);
    }
    for (const auto& [key, value] : now.settings) {
        keys.insert(key);
    }
    for (const QString& key : std::as_const(keys)) {
        const auto before = m_seen.settings.find(key);
        const auto after = now.settings.find(key);
        const bool same = before != m_seen.settings.end() && after != now.settings.end() &&
                          sameValue(before->second, after->second);
        if (!same) {
            m_settings.insert(key, ++m_lastMark);
            changed = true;
        }
    }
    changed |= recordDeletions(m_seen.snippets, now.snippets, m_snippets);
    changed |= recordDeletions(m_seen.dictionary, now.dictionary, m_dictionary);
    m_seen = std::move(now);
    if (changed) {
        save();
    }
}

bool PendingConfigEdits::recordDeletions(const Entries& before, const Entries& after,
                                         QHash<QString, Tombstone>& tombstones) {
    QHash<QUuid, QString> keyOf;
    QSet<QString> present;
    for (const auto& [id, text] : after) {
        const QString key = mergeKey(text);
        keyOf.insert(id, key);
        if (!key.isEmpty()) {
            present.insert(key);
        }
    }
    bool changed = false;
    for (const auto& [id, text] : before) {
        const QString key = mergeKey(text);
        // Gone, or renamed: the old key is no longer the user's, unless another entry still has it.
        if (key.isEmpty() || present.contains(key) || keyOf.value(id, QString()) == key) {
            continue;
        }
        tombstones.insert(key, Tombstone{id, text, ++m_lastMark});
        changed = true;
    }
    for (const QString& key : std::as_const(present)) {
        changed |= tombstones.remove(key) > 0; // made again: the user has it once more
    }
    return changed;
}

bool PendingConfigEdits::isEmpty() const {
    return m_settings.isEmpty() && m_snippets.isEmpty() && m_dictionary.isEmpty();
}

QSet<QString> PendingConfigEdits::editedSettings() const {
    QSet<QString> keys;
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it) {
        keys.insert(it.key());
    }
    return keys;
}

bool PendingConfigEdits::isDeletedSnippet(const QString& title) const {
    return m_snippets.contains(mergeKey(title));
}

bool PendingConfigEdits::isDeletedTerm(const QString& term) const {
    return m_dictionary.contains(mergeKey(term));
}

PendingConfigEdits::Ticket PendingConfigEdits::ticket() const {
    Ticket ticket;
    ticket.settings = m_settings;
    for (auto it = m_snippets.cbegin(); it != m_snippets.cend(); ++it) {
        ticket.snippets.insert(it.key(), it->mark);
    }
    for (auto it = m_dictionary.cbegin(); it != m_dictionary.cend(); ++it) {
        ticket.dictionary.insert(it.key(), it->mark);
    }
    return ticket;
}

void PendingConfigEdits::settle(const Ticket& ticket) {
    bool changed = false;
    for (auto it = ticket.settings.cbegin(); it != ticket.settings.cend(); ++it) {
        if (m_settings.value(it.key()) == it.value()) {
            changed |= m_settings.remove(it.key()) > 0;
        }
    }
    const auto settleTombstones = [&](const QHash<QString, quint64>& carried,
                                      QHash<QString, Tombstone>& tombstones) {
        for (auto it = carried.cbegin(); it != carried.cend(); ++it) {
            const auto found = tombstones.constFind(it.key());
            if (found != tombstones.cend() && found->mark == it.value()) {
                tombstones.erase(found);
                changed = true;
            }
        }
    };
    settleTombstones(ticket.snippets, m_snippets);
    settleTombstones(ticket.dictionary, m_dictionary);
    if (changed) {
        save();
    }
}

void PendingConfigEdits::load() {
    m_file.load([this](const QJsonValue& json) {
        const StoredEdits stored = JsonDecode::decode(json, QString(), JsonDecode::Tag<StoredEdits>{});
        QHash<QString, quint64> settings;
        QHash<QString, Tombstone> snippets;
        QHash<QString, Tombstone> dictionary;
        for (const QString& key : stored.settings) {
            settings.insert(key, ++m_lastMark);
        }
        const auto read = [this](const QList<StoredTombstone>& from, QHash<QString, Tombstone>& into,
                                 const QString& path) {
            for (qsizetype i = 0; i < from.size(); ++i) {
                const QUuid id = JsonFileStore::parseId(
                    from.at(i).id,
                    JsonDecode::childPath(JsonDecode::indexPath(path, i), QStringLiteral("id")));
                const QString key = mergeKey(from.at(i).text);
                if (!key.isEmpty()) {
                    into.insert(key, Tombstone{id, from.at(i).text, ++m_lastMark});
                }
            }
        };
        read(stored.snippets, snippets, QStringLiteral("snippets"));
        read(stored.dictionary, dictionary, QStringLiteral("dictionary"));
        m_settings = std::move(settings);
        m_snippets = std::move(snippets);
        m_dictionary = std::move(dictionary);
        AppLogger::info(
            QStringLiteral("Loaded pending configuration edits settings=%1 snippets=%2 dictionary=%3")
                .arg(m_settings.size())
                .arg(m_snippets.size())
                .arg(m_dictionary.size()));
    });
}

void PendingConfigEdits::save() {
    m_file.save([this] {
        StoredEdits stored;
        QStringList keys = m_settings.keys();
        keys.sort(); // a stable file for the same content
        stored.settings = keys;
        const auto write = [](const QHash<QString, Tombstone>& tombstones) {
            QList<StoredTombstone> list;
            for (const Tombstone& tombstone : tombstones) {
                list.append({Text::uuidText(tombstone.id), tombstone.text});
            }
            std::sort(list.begin(), list.end(),
                      [](const StoredTombstone& a, const StoredTombstone& b) { return a.text < b.text; });
            return list;
        };
        stored.snippets = write(m_snippets);
        stored.dictionary = write(m_dictionary);
        return JsonEncode::encode(stored);
    });
}
