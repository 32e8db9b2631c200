#include "JsonFileStore.h"

#include "AppLogger.h"
#include "AppPaths.h"
#include "AtomicFile.h"
#include "Clock.h"
#include "IsoDate.h"
#include "JsonDecoding.h"
#include "StorageNotices.h"
#include "TextUtilities.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <exception>

#include <unistd.h>

namespace {

constexpr int kLeftOutLogged = 5; // entries left out that are described one by one in the log

const auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const auto kOwnerOnlyFolder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Whether this process may create files in `folder` (false for a read-only mount, whoever we are).
bool writableFolder(const QString& folder) {
    return ::euidaccess(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString readOnlyKey(const QString& folder) {
    return QStringLiteral("read-only:") + folder;
}

// The folder notice shared by every store in it.
void noticeReadOnlyFolder(const QString& folder) {
    StorageNotices::instance().report(
        readOnlyKey(folder),
        QStringLiteral("The folder %1 cannot be written to: changes to your history, notes and knowledge "
                       "base are not saved.")
            .arg(folder));
}

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
    m_leftOut.clear();
    if (m_filePath.isEmpty()) {
        return false;
    }
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (QFileInfo(folder).isDir() && !writableFolder(folder)) {
        AppLogger::error(QStringLiteral("The %1 cannot be saved: the folder %2 is not writable: %3")
                             .arg(m_subject, folder, Text::systemErrorText(errno)));
        noticeReadOnlyFolder(folder);
    }
    if (!QFileInfo::exists(m_filePath)) {
        return false;
    }
    if (m_ownerOnly) {
        // Written by an earlier version with the umask's mode: the user's words are theirs alone.
        const QFileInfo info(m_filePath);
        if (info.isFile() && !info.isSymLink() &&
            (info.permissions() & ~(kOwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser))) {
            QFile::setPermissions(m_filePath, kOwnerOnly);
        }
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
            } catch (const std::exception& error) {
                failure = describe(error);
                m_leftOut.clear();
            }
        }
    }
    if (failure.isEmpty() && m_leftOut.isEmpty()) {
        return true;
    }
    if (failure.isEmpty()) {
        // Some entries could not be decoded: the rest is kept, and the file as it was goes aside.
        for (qsizetype i = 0; i < m_leftOut.size() && i < kLeftOutLogged; ++i) {
            AppLogger::error(
                QStringLiteral("Failed to load an entry of the %1: %2").arg(m_subject, m_leftOut.at(i)));
        }
        AppLogger::error(QStringLiteral("Left out %1 unreadable entries of the %2")
                             .arg(QString::number(m_leftOut.size()), m_subject));
        if (!setAside()) {
            return true;
        }
        StorageNotices::instance().report(
            m_filePath,
            QStringLiteral("Part of your %1 could not be read (%2 left out). The file as it was is "
                           "kept at %3")
                .arg(noticeName(), QString::number(m_leftOut.size()), m_setAsidePath));
        return true;
    }
    AppLogger::error(QStringLiteral("Failed to load %1: %2").arg(m_subject, failure));
    if (setAside()) {
        StorageNotices::instance().report(m_filePath,
                                          QStringLiteral("Your %1 could not be read. The file is kept at %2")
                                              .arg(noticeName(), m_setAsidePath));
    }
    return false;
}

bool JsonFileStore::setAside() {
    const QString stamp = Clock::current().now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = m_filePath + QStringLiteral(".corrupt-") + stamp;
    // Never replace an earlier set-aside file: QFile::rename refuses an existing target, so count up.
    QString target = base;
    for (int attempt = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++attempt) {
        target = base + QLatin1Char('-') + QString::number(attempt);
    }
    QFile file(m_filePath);
    if (file.rename(target)) {
        m_setAsidePath = target;
        AppLogger::error(QStringLiteral("Set aside the unreadable %1 file path=%2").arg(m_subject, target));
        return true;
    }
    m_savesRefused = true;
    AppLogger::error(QStringLiteral("Failed to set aside the unreadable %1 file path=%2 error=%3")
                         .arg(m_subject, m_filePath, file.errorString()));
    StorageNotices::instance().report(
        m_filePath, QStringLiteral("Your %1 could not be read, and nothing is saved over the file %2 "
                                   "until it is moved away.")
                        .arg(noticeName(), m_filePath));
    return false;
}

void JsonFileStore::noticeSaveFailure(const QString& why) {
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (QFileInfo(folder).isDir() && !writableFolder(folder)) {
        noticeReadOnlyFolder(folder);
        return;
    }
    StorageNotices::instance().report(
        QStringLiteral("save:") + m_filePath,
        QStringLiteral("Your %1 could not be saved: %2 (%3)").arg(noticeName(), why, m_filePath));
}

bool JsonFileStore::save(const std::function<QJsonValue()>& encode) {
    const auto fail = [this](const QString& why) {
        AppLogger::error(QStringLiteral("Failed to save %1: %2").arg(m_subject, why));
        if (!m_filePath.isEmpty() && !m_savesRefused) {
            noticeSaveFailure(why);
        }
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
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(folder)) {
            return fail(QStringLiteral("Could not create the folder %1").arg(folder));
        }
        if (m_ownerOnly) {
            QFile::setPermissions(folder, kOwnerOnlyFolder);
        }
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
    StorageNotices::instance().withdraw(QStringLiteral("save:") + m_filePath);
    StorageNotices::instance().withdraw(readOnlyKey(folder));
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
