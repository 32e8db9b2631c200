#include "KnowledgeRules.h"

#include "TextUtilities.h"

namespace KnowledgeRules {

QStringList firstChips(const QStringList& texts, qsizetype limit) {
    return texts.mid(0, std::max<qsizetype>(0, limit));
}

QStringList dictionaryChips(const QList<DictionaryTerm>& terms) {
    QStringList chips;
    for (qsizetype i = 0; i < terms.size() && i < dictionaryChipCount; ++i) {
        chips << terms.at(i).term;
    }
    return chips;
}

QString snippetChipText(const KnowledgeSnippet& snippet) {
    return QLatin1Char('"') + snippet.title + QStringLiteral("\" -> ") + snippet.value;
}

QStringList snippetChips(const QList<KnowledgeSnippet>& snippets) {
    QStringList chips;
    for (qsizetype i = 0; i < snippets.size() && i < snippetChipCount; ++i) {
        chips << snippetChipText(snippets.at(i));
    }
    return chips;
}

bool canSave(const QString& draftKey) {
    return !Text::trimmed(draftKey).isEmpty();
}

SavePlan planSave(const QString& draftKey, const QString& draftText, const std::optional<QUuid>& editingId,
                  bool editedEntryExists) {
    SavePlan plan;
    plan.key = Text::trimmed(draftKey);
    plan.text = Text::trimmed(draftText);
    if (plan.key.isEmpty()) {
        return plan;
    }
    if (editingId && editedEntryExists) {
        plan.kind = SavePlan::Kind::Update;
        plan.id = *editingId;
    } else {
        plan.kind = SavePlan::Kind::Create;
    }
    return plan;
}

} // namespace KnowledgeRules
