#include "NotesRules.h"

#include "DisplayText.h"

#include <QRegularExpression>

namespace NotesRules {

QString rowTitle(const QString& title) {
    return title.isEmpty() ? untitled : DisplayText::clip(title, rowLineBudget);
}

QString rowPreview(const QString& body, int maxLines) {
    if (body.isEmpty()) {
        return QStringLiteral("Empty note");
    }
    // Only the lines shown are looked at, each cut to what a row can show: a keystroke in a long note
    // costs no more than in a short one.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|[\n\r\v\f\u0085\u2028\u2029]"));
    QStringList lines;
    qsizetype start = 0;
    QRegularExpressionMatchIterator breaks = lineBreak.globalMatch(body);
    while (lines.size() < std::max(1, maxLines)) {
        const QRegularExpressionMatch next = breaks.hasNext() ? breaks.next() : QRegularExpressionMatch();
        const qsizetype end = next.hasMatch() ? next.capturedStart() : body.size();
        lines << DisplayText::clip(body.mid(start, std::min(end - start, rowLineBudget + 1)), rowLineBudget);
        if (!next.hasMatch()) {
            break;
        }
        start = next.capturedEnd();
    }
    return lines.join(QLatin1Char('\n'));
}

QString timeText(const QDateTime& time, const QLocale& locale) {
    // The locale's short time, without seconds where its short format carries them (the C locale does).
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    return locale.toString(time.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(" at ") +
           locale.toString(time.time(), timeFormat);
}

namespace {
std::optional<QUuid> first(const QList<NoteEntry>& notes) {
    if (notes.isEmpty()) {
        return std::nullopt;
    }
    return notes.first().id;
}
} // namespace

std::optional<QUuid> selectionOnShow(const std::optional<QUuid>& selected, const QList<NoteEntry>& notes) {
    return selected ? selected : first(notes);
}

std::optional<QUuid> selectionAfterChange(const std::optional<QUuid>& selected,
                                          const QList<NoteEntry>& notes) {
    if (selected) {
        for (const NoteEntry& note : notes) {
            if (note.id == *selected) {
                return selected;
            }
        }
    }
    return first(notes);
}

std::optional<QUuid> selectionAfterDelete(const QList<NoteEntry>& notes) {
    return first(notes);
}

bool isRecordingVoiceNote(bool recorderIsRecording, RecordingMode activeMode) {
    return recorderIsRecording && activeMode == RecordingMode::Note;
}

QString voiceNoteButtonLabel(bool recordingVoiceNote) {
    return recordingVoiceNote ? QStringLiteral("Stop Voice Note") : QStringLiteral("Record Voice Note");
}

} // namespace NotesRules
