#pragma once

#include "DictationModes.h"
#include "NoteEntry.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QUuid>

#include <optional>

// The rules of the notes page that need no widget: row texts, selection upkeep, the voice-note button.
namespace NotesRules {

// The most characters of one line a row shows (more than its width can hold); a longer line is cut
// there and ends in "…".
inline constexpr qsizetype rowLineBudget = 400;
// The row title: the note's title, or "Untitled" when it is the empty string (no trimming).
QString rowTitle(const QString& title);
// The row preview: at most the first `maxLines` lines of the body; "Empty note" for an empty body.
QString rowPreview(const QString& body, int maxLines = 2);
// A note time: medium date and short time in `locale`, in the time zone of `time`.
QString timeText(const QDateTime& time, const QLocale& locale = QLocale());

// The selection when the page comes into view: a present selection stays; otherwise the first note.
std::optional<QUuid> selectionOnShow(const std::optional<QUuid>& selected, const QList<NoteEntry>& notes);
// The selection after the notes changed while the page is shown: kept while its note is still listed,
// otherwise the first note (none for an empty list).
std::optional<QUuid> selectionAfterChange(const std::optional<QUuid>& selected,
                                          const QList<NoteEntry>& notes);
// The selection after "Delete": the note now first, none for an empty list.
std::optional<QUuid> selectionAfterDelete(const QList<NoteEntry>& notes);

// A voice note is being recorded while the recorder runs in the note mode.
bool isRecordingVoiceNote(bool recorderIsRecording, RecordingMode activeMode);
// "Stop Voice Note" while a voice note is recorded, "Record Voice Note" otherwise.
QString voiceNoteButtonLabel(bool recordingVoiceNote);

inline const QString newNoteTitle = QStringLiteral("New Note");
inline const QString untitled = QStringLiteral("Untitled");

} // namespace NotesRules
