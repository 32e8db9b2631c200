#pragma once

#include "DictionaryTerm.h"
#include "KnowledgeSnippet.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The rules of the dictionary and snippet pages that need no widget: hero chips, the editor's Save.
namespace KnowledgeRules {

// The hero card shows at most this many chips, whatever it is given.
inline constexpr qsizetype heroChipLimit = 5;
inline constexpr qsizetype dictionaryChipCount = 5;
inline constexpr qsizetype snippetChipCount = 3;

// The first `limit` texts (all of them when there are fewer).
QStringList firstChips(const QStringList& texts, qsizetype limit);
// The terms of the first five entries, in list order.
QStringList dictionaryChips(const QList<DictionaryTerm>& terms);
// `"title" -> value`, both as stored (no escaping; an empty value ends in "-> ").
QString snippetChipText(const KnowledgeSnippet& snippet);
// The chip texts of the first three snippets, in list order.
QStringList snippetChips(const QList<KnowledgeSnippet>& snippets);

// Save is enabled while the key, trimmed of white space and line breaks, is not empty.
bool canSave(const QString& draftKey);

// What the editor's Save does with the drafts.
struct SavePlan {
    enum class Kind { Nothing, Create, Update };
    Kind kind = Kind::Nothing;
    QUuid id;     // the entry to update
    QString key;  // trimmed
    QString text; // trimmed, inner line breaks kept
};

// A blank key saves nothing; an editing id that names an entry of the store updates it; otherwise
// (adding, or the edited entry is gone) the drafts become a new entry, so nothing typed is lost.
SavePlan planSave(const QString& draftKey, const QString& draftText, const std::optional<QUuid>& editingId,
                  bool editedEntryExists);

} // namespace KnowledgeRules
