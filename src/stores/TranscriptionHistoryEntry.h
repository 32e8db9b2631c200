#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// One finished dictation as the home page lists it. Not compared for equality.
struct TranscriptionHistoryEntry {
    QUuid id;
    QDateTime timestamp; // when the entry was added; stored with whole seconds
    QString text;
    std::optional<QString> provider; // what produced the text, as the caller reports it
    QString appContext;              // the target application or mode, as the caller describes it
    double durationSeconds = 0;      // recording length as the caller measured it
};
