#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

// One note: a voice note made from a dictation or a note typed on the notes page.
struct NoteEntry {
    QUuid id;
    QString title;
    QString body;
    QDateTime timestamp; // creation time, never changed by an edit; stored with whole seconds

    // Strings compare as canonically equivalent Unicode text; timestamps as moments.
    friend bool operator==(const NoteEntry& a, const NoteEntry& b) {
        return a.id == b.id &&
               a.title.normalized(QString::NormalizationForm_C) ==
                   b.title.normalized(QString::NormalizationForm_C) &&
               a.body.normalized(QString::NormalizationForm_C) ==
                   b.body.normalized(QString::NormalizationForm_C) &&
               a.timestamp == b.timestamp;
    }
};
