#include "NotesStore.h"

#include "AppLogger.h"
#include "IsoDate.h"
#include "JsonDecoding.h"
#include "TextUtilities.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace {

const QString kVoiceNoteTitle = QStringLiteral("Voice Note");
const QString kUntitled = QStringLiteral("Untitled");
constexpr qsizetype kTitleLength = 60; // user-perceived characters

bool isLineBreak(char16_t unit) {
    return (unit >= 0x000A && unit <= 0x000D) || unit == 0x0085 || unit == 0x2028 || unit == 0x2029;
}

// The first line that is not empty; a carriage return and line feed pair counts as one break.
std::optional<QString> firstNonEmptyLine(const QString& text) {
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text.at(i).unicode())) {
            continue;
        }
        if (i > start) {
            return text.mid(start, i - start);
        }
        start = i + 1;
    }
    return std::nullopt;
}

NoteEntry decodeNote(const QJsonValue& value, const QString& path) {
    JsonReader reader(value, path);
    QString id;
    QString timestamp;
    NoteEntry note;
    reader.required("id", id);
    reader.required("title", note.title);
    reader.required("body", note.body);
    reader.required("timestamp", timestamp);
    note.id = JsonFileStore::parseId(id, JsonDecode::childPath(path, QStringLiteral("id")));
    note.timestamp =
        JsonFileStore::parseDate(timestamp, JsonDecode::childPath(path, QStringLiteral("timestamp")));
    return note;
}

} // namespace

NotesStore::NotesStore(const QString& folder, Scheduler* scheduler, QObject* parent)
    : QObject(parent), m_file(QLatin1String(kFileName), QStringLiteral("notes"), folder),
      m_scheduler(scheduler ? *scheduler : Scheduler::current()) {
    m_file.restrictToOwner(); // the user's own words
    load();
}

NotesStore::~NotesStore() {
    flush();
}

NoteEntry NotesStore::createNote(const QString& title, const QString& body, const QDateTime& timestamp) {
    const NoteEntry note{QUuid::createUuid(), title, body, timestamp};
    m_notes.prepend(note);
    emit notesChanged();
    // A title is the user's words (a voice note's are its first words): only its length is logged.
    AppLogger::info(QStringLiteral("Note created id=%1 title_chars=%2")
                        .arg(Text::uuidText(note.id))
                        .arg(Text::graphemeCount(title)));
    save();
    return note;
}

NoteEntry NotesStore::addVoiceNote(const QString& body, const QDateTime& timestamp) {
    const QString storedBody = Text::trimmed(body);
    QString candidate;
    if (const auto line = firstNonEmptyLine(storedBody)) {
        candidate = Text::trimmed(*line);
    }
    if (candidate.isEmpty()) {
        candidate = kVoiceNoteTitle;
    }
    QString title = Text::leadingGraphemes(candidate, kTitleLength);
    if (title.isEmpty()) {
        title = kVoiceNoteTitle;
    }
    const NoteEntry note = createNote(title, storedBody, timestamp);
    AppLogger::info(QStringLiteral("Voice note saved id=%1 chars=%2")
                        .arg(Text::uuidText(note.id))
                        .arg(Text::graphemeCount(storedBody)));
    return note;
}

void NotesStore::updateNote(const QUuid& id, const std::optional<QString>& title,
                            const std::optional<QString>& body) {
    const auto it =
        std::find_if(m_notes.begin(), m_notes.end(), [&](const NoteEntry& note) { return note.id == id; });
    if (it == m_notes.end()) {
        return;
    }
    if (title) {
        it->title = Text::trimmed(*title).isEmpty() ? kUntitled : *title;
    }
    if (body) {
        it->body = *body;
    }
    if (title || body) {
        emit notesChanged();
    }
    saveLater();
}

bool NotesStore::renameIfTitleIs(const QUuid& id, const QString& expected, const QString& title) {
    const auto current = note(id);
    if (!current || current->title != expected) {
        return false;
    }
    updateNote(id, title, std::nullopt);
    return true;
}

void NotesStore::deleteNote(const QUuid& id) {
    const auto it =
        std::find_if(m_notes.cbegin(), m_notes.cend(), [&](const NoteEntry& note) { return note.id == id; });
    if (it == m_notes.cend()) {
        return;
    }
    const QString title = it->title;
    m_notes.erase(it);
    emit notesChanged();
    AppLogger::info(QStringLiteral("Note deleted id=%1 title_chars=%2")
                        .arg(Text::uuidText(id))
                        .arg(Text::graphemeCount(title)));
    save();
}

std::optional<NoteEntry> NotesStore::note(const std::optional<QUuid>& id) const {
    if (!id) {
        return std::nullopt;
    }
    for (const NoteEntry& entry : m_notes) {
        if (entry.id == *id) {
            return entry;
        }
    }
    return std::nullopt;
}

void NotesStore::flush() {
    if (m_unsavedEdits) {
        save();
    }
}

void NotesStore::saveLater() {
    m_unsavedEdits = true;
    m_quietSave.cancel();
    m_quietSave = m_scheduler.singleShot(kSaveDelay, [this] { save(); });
    if (!m_deadlineSave.isActive()) {
        m_deadlineSave = m_scheduler.singleShot(kLongestSaveDelay, [this] { save(); });
    }
}

// Writes the whole list, the edits still waiting included.
void NotesStore::save() {
    m_unsavedEdits = false;
    m_quietSave.cancel();
    m_deadlineSave.cancel();
    m_file.save([this] {
        QJsonArray array;
        for (const NoteEntry& note : std::as_const(m_notes)) {
            array.append(QJsonObject{{QStringLiteral("id"), Text::uuidText(note.id)},
                                     {QStringLiteral("title"), note.title},
                                     {QStringLiteral("body"), note.body},
                                     {QStringLiteral("timestamp"), IsoDate::format(note.timestamp)}});
        }
        return QJsonValue(array);
    });
}

void NotesStore::load() {
    const bool loaded = m_file.load([this](const QJsonValue& json) {
        m_notes = m_file.decodeEntries<NoteEntry>(json, QString(), decodeNote);
        AppLogger::info(QStringLiteral("Loaded notes entries=%1").arg(m_notes.size()));
    });
    if (loaded && m_file.entriesLeftOut() > 0) {
        save(); // the entries kept, without the ones left out
    }
}
