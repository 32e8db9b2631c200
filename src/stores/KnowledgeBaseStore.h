#pragma once

#include "APIModels.h"
#include "DictionaryTerm.h"
#include "JsonFileStore.h"
#include "KnowledgeSnippet.h"

#include <QList>
#include <QObject>
#include <QUuid>

#include <functional>

// The user's knowledge base: text snippets and protected dictionary terms, kept in memory for the user
// interface and the prompt builder and persisted together in "knowledge-base.json". Entries from the
// cloud configuration are merged in (new keys only); the lists are exported as wire records for upload
// and for transcription requests. Main thread only.
//
// Both lists are kept sorted by key (the title or term, trimmed and lower-cased) after every create,
// update and merge; keys compare by code point of their canonically composed (NFC) forms.
class KnowledgeBaseStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<KnowledgeSnippet> snippets READ snippets NOTIFY snippetsChanged)
    Q_PROPERTY(QList<DictionaryTerm> dictionaryTerms READ dictionaryTerms NOTIFY dictionaryTermsChanged)

public:
    static constexpr const char* kFileName = "knowledge-base.json";

    // `folder` holds the file; empty means the app's data folder (AppPaths::dataFolder()).
    explicit KnowledgeBaseStore(const QString& folder = {}, QObject* parent = nullptr);

    const QList<KnowledgeSnippet>& snippets() const { return m_snippets; }
    const QList<DictionaryTerm>& dictionaryTerms() const { return m_dictionaryTerms; }
    QString filePath() const { return m_file.filePath(); }

    // Called after every create, update and delete (never after a merge). Set by the owner.
    std::function<void()> onChange;

    QUuid createSnippet(const QString& title, const QString& value);
    void updateSnippet(const QUuid& id, const QString& title, const QString& value);
    void deleteSnippet(const QUuid& id);
    QUuid createDictionaryTerm(const QString& term, const QString& note);
    void updateDictionaryTerm(const QUuid& id, const QString& term, const QString& note);
    void deleteDictionaryTerm(const QUuid& id);

    // Adds the remote entries whose key is new; never changes or removes a local entry and never calls
    // onChange. Returns whether anything was added.
    bool mergeRemote(const QList<SnippetDTO>& snippets, const QList<DictionaryEntryDTO>& dictionary);

    // Entries with a non-blank title (term), as stored; a term's empty note is sent as no note.
    QList<SnippetDTO> snippetDTOs() const;
    QList<DictionaryEntryDTO> dictionaryDTOs() const;

    // The sort and merge key of a title or term: trimmed, lower-cased, canonically composed.
    static QString sortKey(const QString& text);
    // Code-point order of two strings (not UTF-16 code-unit order).
    static bool codePointLess(const QString& a, const QString& b);

signals:
    void snippetsChanged();
    void dictionaryTermsChanged();

private:
    void load();
    void save();
    void persistAndNotify(const QString& reason);
    enum class List { Snippets, DictionaryTerms };
    // Sorts both lists, then emits the change signal of the edited list and of any list that moved.
    void sortAndAnnounce(List edited);

    JsonFileStore m_file;
    QList<KnowledgeSnippet> m_snippets;
    QList<DictionaryTerm> m_dictionaryTerms;
    bool m_suppressChangeCallback = false;
};
