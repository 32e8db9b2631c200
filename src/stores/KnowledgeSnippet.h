#pragma once

#include <QString>
#include <QUuid>

// One text snippet of the knowledge base: a name and the text it stands for.
struct KnowledgeSnippet {
    QUuid id;
    QString title; // sort and merge key: trimmed, lower-cased
    QString value;

    // Strings compare as canonically equivalent Unicode text.
    friend bool operator==(const KnowledgeSnippet& a, const KnowledgeSnippet& b) {
        return a.id == b.id &&
               a.title.normalized(QString::NormalizationForm_C) ==
                   b.title.normalized(QString::NormalizationForm_C) &&
               a.value.normalized(QString::NormalizationForm_C) ==
                   b.value.normalized(QString::NormalizationForm_C);
    }
};
