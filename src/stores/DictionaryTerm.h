#pragma once

#include <QString>
#include <QUuid>

// One protected word or phrase of the knowledge base's dictionary.
struct DictionaryTerm {
    QUuid id;
    QString term; // sort and merge key: trimmed, lower-cased
    QString note; // empty when there is none

    // Strings compare as canonically equivalent Unicode text.
    friend bool operator==(const DictionaryTerm& a, const DictionaryTerm& b) {
        return a.id == b.id &&
               a.term.normalized(QString::NormalizationForm_C) ==
                   b.term.normalized(QString::NormalizationForm_C) &&
               a.note.normalized(QString::NormalizationForm_C) ==
                   b.note.normalized(QString::NormalizationForm_C);
    }
};
