#include "KnowledgeBaseStore.h"

#include "AppLogger.h"
#include "JsonDecoding.h"
#include "TextUtilities.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

// Reorders `list` stably by the key of each entry; returns whether the order changed.
template <class T, class KeyOf> bool sortByKey(QList<T>& list, KeyOf keyOf) {
    QList<std::pair<QString, qsizetype>> keyed;
    keyed.reserve(list.size());
    for (qsizetype i = 0; i < list.size(); ++i) {
        keyed.append({KnowledgeBaseStore::sortKey(keyOf(list.at(i))), i});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return KnowledgeBaseStore::codePointLess(a.first, b.first);
    });
    bool moved = false;
    for (qsizetype i = 0; i < keyed.size() && !moved; ++i) {
        moved = keyed.at(i).second != i;
    }
    if (!moved) {
        return false;
    }
    QList<T> sorted;
    sorted.reserve(list.size());
    for (const auto& entry : keyed) {
        sorted.append(std::move(list[entry.second]));
    }
    list = std::move(sorted);
    return true;
}

bool isBlank(const QString& text) {
    return Text::trimmed(text).isEmpty();
}

KnowledgeSnippet decodeSnippet(const QJsonValue& value, const QString& path) {
    JsonReader reader(value, path);
    QString id;
    KnowledgeSnippet snippet;
    reader.required("id", id);
    reader.required("title", snippet.title);
    reader.required("value", snippet.value);
    snippet.id = JsonFileStore::parseId(id, JsonDecode::childPath(path, QStringLiteral("id")));
    return snippet;
}

DictionaryTerm decodeTerm(const QJsonValue& value, const QString& path) {
    JsonReader reader(value, path);
    QString id;
    DictionaryTerm term;
    reader.required("id", id);
    reader.required("term", term.term);
    reader.required("note", term.note);
    term.id = JsonFileStore::parseId(id, JsonDecode::childPath(path, QStringLiteral("id")));
    return term;
}

template <class T, class Decode>
QList<T> decodeMember(JsonFileStore& file, const QJsonObject& object, const QString& key, Decode decode) {
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        throw DecodingError(DecodingError::Kind::KeyNotFound, key, QStringLiteral("No value for the key"));
    }
    if (it->isNull()) {
        throw DecodingError(DecodingError::Kind::ValueNotFound, key,
                            QStringLiteral("Expected a value but found null"));
    }
    return file.decodeEntries<T>(*it, key, decode);
}

} // namespace

KnowledgeBaseStore::KnowledgeBaseStore(const QString& folder, QObject* parent)
    : QObject(parent), m_file(QLatin1String(kFileName), QStringLiteral("knowledge base store"), folder) {
    m_file.restrictToOwner(); // the user's own words
    m_file.setNoticeName(QStringLiteral("knowledge base"));
    load();
}

QString KnowledgeBaseStore::sortKey(const QString& text) {
    return Text::trimmed(text).toLower().normalized(QString::NormalizationForm_C);
}

bool KnowledgeBaseStore::codePointLess(const QString& a, const QString& b) {
    // UTF-16 order differs from code-point order only where a surrogate meets a unit of U+E000..U+FFFF:
    // move the surrogates above that range and compare the units.
    const auto rank = [](char16_t unit) -> char16_t {
        if (unit >= 0xE000) {
            return static_cast<char16_t>(unit - 0x800);
        }
        if (unit >= 0xD800) {
            return static_cast<char16_t>(unit + 0x2000);
        }
        return unit;
    };
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x != y) {
            return rank(x) < rank(y);
        }
    }
    return a.size() < b.size();
}

QUuid KnowledgeBaseStore::createSnippet(const QString& title, const QString& value) {
    const QUuid id = QUuid::createUuid();
    m_snippets.append({id, title, value});
    sortAndAnnounce(List::Snippets);
    persistAndNotify(QStringLiteral("snippet_add"));
    return id;
}

void KnowledgeBaseStore::updateSnippet(const QUuid& id, const QString& title, const QString& value) {
    const auto it = std::find_if(m_snippets.begin(), m_snippets.end(),
                                 [&](const KnowledgeSnippet& snippet) { return snippet.id == id; });
    if (it == m_snippets.end()) {
        return;
    }
    it->title = title;
    it->value = value;
    sortAndAnnounce(List::Snippets);
    persistAndNotify(QStringLiteral("snippet_update"));
}

void KnowledgeBaseStore::deleteSnippet(const QUuid& id) {
    if (m_snippets.removeIf([&](const KnowledgeSnippet& snippet) { return snippet.id == id; }) > 0) {
        emit snippetsChanged();
    }
    persistAndNotify(QStringLiteral("snippet_delete"));
}

QUuid KnowledgeBaseStore::createDictionaryTerm(const QString& term, const QString& note) {
    const QUuid id = QUuid::createUuid();
    m_dictionaryTerms.append({id, term, note});
    sortAndAnnounce(List::DictionaryTerms);
    persistAndNotify(QStringLiteral("dictionary_add"));
    return id;
}

void KnowledgeBaseStore::updateDictionaryTerm(const QUuid& id, const QString& term, const QString& note) {
    const auto it = std::find_if(m_dictionaryTerms.begin(), m_dictionaryTerms.end(),
                                 [&](const DictionaryTerm& entry) { return entry.id == id; });
    if (it == m_dictionaryTerms.end()) {
        return;
    }
    it->term = term;
    it->note = note;
    sortAndAnnounce(List::DictionaryTerms);
    persistAndNotify(QStringLiteral("dictionary_update"));
}

void KnowledgeBaseStore::deleteDictionaryTerm(const QUuid& id) {
    if (m_dictionaryTerms.removeIf([&](const DictionaryTerm& entry) { return entry.id == id; }) > 0) {
        emit dictionaryTermsChanged();
    }
    persistAndNotify(QStringLiteral("dictionary_delete"));
}

bool KnowledgeBaseStore::mergeRemote(const QList<SnippetDTO>& snippets,
                                     const QList<DictionaryEntryDTO>& dictionary) {
    m_suppressChangeCallback = true;
    bool addedSnippets = false;
    bool addedTerms = false;

    // The key sets hold the local entries as they stand before the merge: two remote entries with the
    // same new key are both added.
    QSet<QString> snippetKeys;
    for (const KnowledgeSnippet& snippet : std::as_const(m_snippets)) {
        snippetKeys.insert(sortKey(snippet.title));
    }
    for (const SnippetDTO& remote : snippets) {
        if (isBlank(remote.title) || snippetKeys.contains(sortKey(remote.title))) {
            continue;
        }
        m_snippets.append({QUuid::createUuid(), remote.title, remote.value});
        addedSnippets = true;
    }

    QSet<QString> termKeys;
    for (const DictionaryTerm& term : std::as_const(m_dictionaryTerms)) {
        termKeys.insert(sortKey(term.term));
    }
    for (const DictionaryEntryDTO& remote : dictionary) {
        if (isBlank(remote.term) || termKeys.contains(sortKey(remote.term))) {
            continue;
        }
        m_dictionaryTerms.append({QUuid::createUuid(), remote.term, remote.note.value_or(QString())});
        addedTerms = true;
    }

    const bool snippetsMoved = sortByKey(m_snippets, [](const KnowledgeSnippet& s) { return s.title; });
    const bool termsMoved = sortByKey(m_dictionaryTerms, [](const DictionaryTerm& t) { return t.term; });
    if (addedSnippets || snippetsMoved) {
        emit snippetsChanged();
    }
    if (addedTerms || termsMoved) {
        emit dictionaryTermsChanged();
    }

    const bool added = addedSnippets || addedTerms;
    if (added) {
        persistAndNotify(QStringLiteral("remote_merge"));
    }
    m_suppressChangeCallback = false;
    return added;
}

QList<SnippetDTO> KnowledgeBaseStore::snippetDTOs() const {
    QList<SnippetDTO> result;
    for (const KnowledgeSnippet& snippet : m_snippets) {
        if (!isBlank(snippet.title)) {
            result.append({snippet.title, snippet.value});
        }
    }
    return result;
}

QList<DictionaryEntryDTO> KnowledgeBaseStore::dictionaryDTOs() const {
    QList<DictionaryEntryDTO> result;
    for (const DictionaryTerm& term : m_dictionaryTerms) {
        if (!isBlank(term.term)) {
            result.append(
                {term.term, term.note.isEmpty() ? std::nullopt : std::optional<QString>(term.note)});
        }
    }
    return result;
}

void KnowledgeBaseStore::sortAndAnnounce(List edited) {
    // Both lists are sorted on every edit; the other list moves too when it was out of order (a file
    // written by hand or by an older client), and its watchers must hear of that as well.
    const bool snippetsMoved =
        sortByKey(m_snippets, [](const KnowledgeSnippet& snippet) { return snippet.title; });
    const bool termsMoved =
        sortByKey(m_dictionaryTerms, [](const DictionaryTerm& term) { return term.term; });
    if (edited == List::Snippets || snippetsMoved) {
        emit snippetsChanged();
    }
    if (edited == List::DictionaryTerms || termsMoved) {
        emit dictionaryTermsChanged();
    }
}

void KnowledgeBaseStore::persistAndNotify(const QString& reason) {
    save();
    AppLogger::info(QStringLiteral("Knowledge base updated reason=%1 snippets=%2 dictionary=%3")
                        .arg(reason)
                        .arg(m_snippets.size())
                        .arg(m_dictionaryTerms.size()));
    if (!m_suppressChangeCallback && onChange) {
        onChange();
    }
}

void KnowledgeBaseStore::save() {
    m_file.save([this] {
        QJsonArray snippets;
        for (const KnowledgeSnippet& snippet : std::as_const(m_snippets)) {
            snippets.append(QJsonObject{{QStringLiteral("id"), Text::uuidText(snippet.id)},
                                        {QStringLiteral("title"), snippet.title},
                                        {QStringLiteral("value"), snippet.value}});
        }
        QJsonArray dictionary;
        for (const DictionaryTerm& term : std::as_const(m_dictionaryTerms)) {
            dictionary.append(QJsonObject{{QStringLiteral("id"), Text::uuidText(term.id)},
                                          {QStringLiteral("term"), term.term},
                                          {QStringLiteral("note"), term.note}});
        }
        return QJsonValue(
            QJsonObject{{QStringLiteral("snippets"), snippets}, {QStringLiteral("dictionary"), dictionary}});
    });
}

void KnowledgeBaseStore::load() {
    const bool loaded = m_file.load([this](const QJsonValue& json) {
        if (!json.isObject()) {
            throw DecodingError(DecodingError::Kind::TypeMismatch, QString(),
                                QStringLiteral("Expected an object"));
        }
        const QJsonObject object = json.toObject();
        auto snippets =
            decodeMember<KnowledgeSnippet>(m_file, object, QStringLiteral("snippets"), decodeSnippet);
        auto terms = decodeMember<DictionaryTerm>(m_file, object, QStringLiteral("dictionary"), decodeTerm);
        m_snippets = std::move(snippets);
        m_dictionaryTerms = std::move(terms);
        AppLogger::info(QStringLiteral("Loaded knowledge base snippets=%1 dictionary=%2")
                            .arg(m_snippets.size())
                            .arg(m_dictionaryTerms.size()));
    });
    if (loaded && m_file.entriesLeftOut() > 0) {
        save(); // the entries kept, without the ones left out
    }
}
