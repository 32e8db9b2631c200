#include "JsonFileStore.h"

#include "AppLogger.h"
#include "AppPaths.h"
#include "AtomicFile.h"
#include "Clock.h"
#include "IsoDate.h"
#include "JsonDecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <exception>

namespace {

QString describe(const std::exception& error) {
    if (const auto* decoding = dynamic_cast<const DecodingError*>(&error)) {
        return decoding->description();
    }
    return QString::fromUtf8(error.what());
}

} // namespace

JsonFileStore::JsonFileStore(const QString& fileName, QString subject, const QString& folder)
    : m_subject(std::move(subject)) {
    const QString base = folder.isEmpty() ? AppPaths::dataFolder() : folder;
    if (!base.isEmpty()) {
        m_filePath = QDir(base).filePath(fileName);
    }
}

bool JsonFileStore::load(const std::function<void(const QJsonValue&)>& decode) {
    if (m_filePath.isEmpty() || !QFileInfo::exists(m_filePath)) {
        return false;
    }
    QString failure;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        failure = file.errorString();
    } else {
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            failure = file.errorString();
        }
        file.close();
        if (failure.isEmpty()) {
            try {
                decode(JsonDecode::parse(bytes));
                return true;
            } catch (const std::exception& error) {
                failure = describe(error);
            }
        }
    }
    AppLogger::error(QStringLiteral("Failed to load %1: %2").arg(m_subject, failure));
    setAside();
    return false;
}

void JsonFileStore::setAside() {
    const QString stamp = Clock::current().now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = m_filePath + QStringLiteral(".corrupt-") + stamp;
    // Never replace an earlier set-aside file: QFile::rename refuses an existing target, so count up.
    QString target = base;
    for (int attempt = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++attempt) {
        target = base + QLatin1Char('-') + QString::number(attempt);
    }
    QFile file(m_filePath);
    if (file.rename(target)) {
        AppLogger::error(QStringLiteral("Set aside the unreadable %1 file path=%2").arg(m_subject, target));
        return;
    }
    m_savesRefused = true;
    AppLogger::error(QStringLiteral("Failed to set aside the unreadable %1 file path=%2 error=%3")
                         .arg(m_subject, m_filePath, file.errorString()));
}

bool JsonFileStore::save(const std::function<QJsonValue()>& encode) {
    const auto fail = [this](const QString& why) {
        AppLogger::error(QStringLiteral("Failed to save %1: %2").arg(m_subject, why));
        return false;
    };
    if (m_filePath.isEmpty()) {
        return fail(QStringLiteral("No folder is available for the file"));
    }
    if (m_savesRefused) {
        return fail(QStringLiteral("The unreadable file %1 could not be set aside and is kept as it is")
                        .arg(m_filePath));
    }
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        return fail(QStringLiteral("Could not create the folder %1").arg(folder));
    }
    QByteArray text;
    try {
        text = JsonEncode::compactText(encode());
    } catch (const std::exception& error) {
        return fail(describe(error));
    }
    QString why;
    const auto mode = m_ownerOnly ? AtomicFile::OwnerOnly : AtomicFile::KeepMode;
    if (!AtomicFile::replace(m_filePath, text, &why, mode)) {
        return fail(why); // the file keeps its previous content
    }
    return true;
}

QUuid JsonFileStore::parseId(const QString& text, const QString& path) {
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!pattern.match(text).hasMatch()) {
        throw DecodingError(DecodingError::Kind::DataCorrupted, path,
                            QStringLiteral("Attempted to decode UUID from invalid UUID string."));
    }
    return QUuid::fromString(text);
}

QDateTime JsonFileStore::parseDate(const QString& text, const QString& path) {
    static const QRegularExpression wholeSeconds(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(?:Z|[+-]\d{2}:\d{2})$)"));
    std::optional<QDateTime> moment;
    if (wholeSeconds.match(text).hasMatch()) {
        moment = IsoDate::parse(text);
    }
    if (!moment) {
        throw DecodingError(DecodingError::Kind::DataCorrupted, path,
                            QStringLiteral("Expected date string to be ISO8601-formatted."));
    }
    return *moment;
}
