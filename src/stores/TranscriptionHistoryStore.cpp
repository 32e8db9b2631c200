#include "TranscriptionHistoryStore.h"

#include "AppLogger.h"
#include "Clock.h"
#include "IsoDate.h"
#include "JsonDecoding.h"
#include "TextUtilities.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace {

TranscriptionHistoryEntry decodeEntry(const QJsonValue& value, const QString& path) {
    JsonReader reader(value, path);
    QString id;
    QString timestamp;
    TranscriptionHistoryEntry entry;
    reader.required("id", id);
    reader.required("timestamp", timestamp);
    reader.required("text", entry.text);
    reader.optional("provider", entry.provider);
    reader.required("appContext", entry.appContext);
    reader.required("durationSeconds", entry.durationSeconds);
    entry.id = JsonFileStore::parseId(id, JsonDecode::childPath(path, QStringLiteral("id")));
    entry.timestamp =
        JsonFileStore::parseDate(timestamp, JsonDecode::childPath(path, QStringLiteral("timestamp")));
    return entry;
}

} // namespace

TranscriptionHistoryStore::TranscriptionHistoryStore(const QString& folder, QObject* parent)
    : QObject(parent), m_file(QLatin1String(kFileName), QStringLiteral("transcription history"), folder) {
    m_file.restrictToOwner(); // the user's own words
    load();
}

void TranscriptionHistoryStore::addEntry(const QString& text, const std::optional<QString>& provider,
                                         const QString& appContext, double durationSeconds) {
    // A NaN or infinite duration would make every later save fail until the entry aged out.
    const double duration = std::isfinite(durationSeconds) ? durationSeconds : 0.0;
    m_entries.prepend({QUuid::createUuid(), Clock::current().now(), text, provider, appContext, duration});
    if (m_entries.size() > kMaximumEntries) {
        m_entries.resize(kMaximumEntries);
    }
    emit entriesChanged();
    if (!provider || provider->toLower() != QLatin1String("silence")) {
        // The context reads "Application (CATEGORY) - Window title": the title stays out of the log.
        AppLogger::info(QStringLiteral("History entry added provider=%1 context=%2 chars=%3")
                            .arg(provider.value_or(QStringLiteral("unknown")),
                                 appContext.section(QStringLiteral(" - "), 0, 0),
                                 QString::number(Text::graphemeCount(text))));
    }
    save();
}

void TranscriptionHistoryStore::save() {
    m_file.save([this] {
        QJsonArray array;
        for (const TranscriptionHistoryEntry& entry : std::as_const(m_entries)) {
            QJsonObject object{
                {QStringLiteral("id"), Text::uuidText(entry.id)},
                {QStringLiteral("timestamp"), IsoDate::format(entry.timestamp)},
                {QStringLiteral("text"), entry.text},
                {QStringLiteral("appContext"), entry.appContext},
                {QStringLiteral("durationSeconds"), JsonEncode::finiteNumber(entry.durationSeconds)}};
            if (entry.provider) {
                object.insert(QStringLiteral("provider"), *entry.provider);
            }
            array.append(object);
        }
        return QJsonValue(array);
    });
}

void TranscriptionHistoryStore::load() {
    const bool loaded = m_file.load([this](const QJsonValue& json) {
        m_entries = m_file.decodeEntries<TranscriptionHistoryEntry>(json, QString(), decodeEntry);
        AppLogger::info(QStringLiteral("Loaded transcription history entries=%1").arg(m_entries.size()));
    });
    if (loaded && m_file.entriesLeftOut() > 0) {
        save(); // the entries kept, without the ones left out
    }
}
