#include "UserDefaults.h"

#include "AtomicFile.h"
#include "StorageNotices.h"
#include "SupportLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The settings hold the user's e-mail address: the file is its owner's only, and so is a folder made
// for it. QSettings replaces the file through QSaveFile, which gives the new file the old one's mode,
// so an empty owner-only file is put in place before the first write (never before: reading the
// defaults writes nothing).
void createOwnerOnlyFile(const QString& filePath) {
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QFileInfo(folder).isDir() && QDir().mkpath(folder)) {
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = QFile::encodeName(filePath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

// A file an earlier version wrote with the umask's mode is made its owner's only.
void restrictExistingFile(const QString& filePath) {
    const QFileInfo info(filePath);
    if (info.isFile() && !info.isSymLink() &&
        (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                               QFileDevice::WriteOther))) {
        QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

QString saveNoticeKey(const QString& filePath) {
    return QStringLiteral("save:") + filePath;
}

bool readJson(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray text = device.readAll();
    if (text.trimmed().isEmpty()) {
        return true;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        switch (value.type()) {
        case QJsonValue::Bool:
            map.insert(it.key(), value.toBool());
            break;
        case QJsonValue::Double:
            map.insert(it.key(), value.toVariant()); // whole numbers read as qlonglong, others as double
            break;
        case QJsonValue::String:
            map.insert(it.key(), value.toString());
            break;
        default:
            // Arrays, objects and null are no kind of ours; keep them untouched as JSON text would lose
            // nothing, but readers treat them as another kind.
            map.insert(it.key(), value.toVariant());
            break;
        }
    }
    return true;
}

// What became of the last write QSettings asked for on this thread: UserDefaults::write() cannot learn it
// from QSettings::status(), which keeps the first error for good.
enum class WriteOutcome { NotAttempted, Written, Failed };
thread_local WriteOutcome t_writeOutcome = WriteOutcome::NotAttempted;

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    // Flushed and checked here: a false return keeps QSettings from committing a short file over the old.
    const bool written =
        AtomicFile::writeThrough(device, QJsonDocument(object).toJson(QJsonDocument::Indented));
    t_writeOutcome = written ? WriteOutcome::Written : WriteOutcome::Failed;
    return written;
}

QSettings::Format jsonFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson, Qt::CaseSensitive);
    return format;
}
} // namespace

UserDefaults::UserDefaults(const QString& filePath)
    : m_settings((restrictExistingFile(filePath), std::make_unique<QSettings>(filePath, jsonFormat()))) {
    m_settings->setFallbacksEnabled(false);
    if (m_settings->status() == QSettings::FormatError) {
        // A file we cannot read would be replaced by the next write: keep it aside instead.
        const QString aside =
            filePath + QStringLiteral(".corrupt-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        m_settings.reset();
        if (QFile::rename(filePath, aside)) {
            SupportLog::error(
                QStringLiteral("Settings file %1 could not be read; kept it as %2").arg(filePath, aside));
            StorageNotices::instance().report(
                filePath,
                QStringLiteral("Your settings could not be read and are back to their defaults. The "
                               "file is kept at %1")
                    .arg(aside));
        } else {
            SupportLog::error(
                QStringLiteral("Settings file %1 could not be read nor set aside").arg(filePath));
            StorageNotices::instance().report(
                filePath, QStringLiteral("Your settings could not be read from %1; the defaults are used.")
                              .arg(filePath));
        }
        m_settings = std::make_unique<QSettings>(filePath, jsonFormat());
        m_settings->setFallbacksEnabled(false);
    }
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::standardFilePath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (folder.isEmpty()) {
        folder = QDir::home().filePath(QStringLiteral(".config/quillvane"));
    }
    return QDir(folder).filePath(QStringLiteral("settings.json"));
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(standardFilePath());
    return defaults;
}

QString UserDefaults::filePath() const {
    return m_settings->fileName();
}

bool UserDefaults::contains(const QString& key) const {
    return m_settings->contains(key);
}

QVariant UserDefaults::value(const QString& key) const {
    return m_settings->value(key);
}

std::optional<bool> UserDefaults::boolValue(const QString& key) const {
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    return v.toBool();
}

std::optional<qint64> UserDefaults::integerValue(const QString& key) const {
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::LongLong && v.typeId() != QMetaType::Int) {
        return std::nullopt;
    }
    return v.toLongLong();
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const {
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::Double && v.typeId() != QMetaType::LongLong &&
        v.typeId() != QMetaType::Int) {
        return std::nullopt;
    }
    return v.toDouble();
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const {
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QByteArray> UserDefaults::dataValue(const QString& key) const {
    const auto text = stringValue(key);
    if (!text) {
        return std::nullopt;
    }
    return text->toUtf8();
}

bool UserDefaults::write(const QString& key, const QVariant& value) {
    m_settings->setValue(key, value);
    return sync();
}

bool UserDefaults::sync() {
    // After a change QSettings always writes the whole file, unless it cannot lock or open it.
    t_writeOutcome = WriteOutcome::NotAttempted;
    if (!QFileInfo::exists(filePath())) {
        createOwnerOnlyFile(filePath());
    }
    m_settings->sync();
    // Nothing written with no error: nothing had changed (a key removed that was not there, a value set to
    // itself), so QSettings left the file alone.
    const bool unchanged =
        t_writeOutcome == WriteOutcome::NotAttempted && m_settings->status() == QSettings::NoError;
    if (t_writeOutcome == WriteOutcome::Written || unchanged) {
        StorageNotices::instance().withdraw(saveNoticeKey(filePath()));
        return true;
    }
    const QString why = t_writeOutcome == WriteOutcome::Failed
                            ? AtomicFile::lastWriteError()
                            : QStringLiteral("%1 could not be locked or opened for writing").arg(filePath());
    // The change stays in memory and goes out with the next write that succeeds.
    SupportLog::error(QStringLiteral("Failed to save settings: ") + why);
    StorageNotices::instance().report(saveNoticeKey(filePath()),
                                      QStringLiteral("Your settings could not be saved: %1").arg(why));
    return false;
}

bool UserDefaults::setBool(const QString& key, bool value) {
    return write(key, value);
}
bool UserDefaults::setInteger(const QString& key, qint64 value) {
    return write(key, value);
}

bool UserDefaults::setDouble(const QString& key, double value) {
    return std::isfinite(value) && write(key, value);
}

bool UserDefaults::setString(const QString& key, const QString& value) {
    return write(key, value);
}
bool UserDefaults::setData(const QString& key, const QByteArray& value) {
    return write(key, QString::fromUtf8(value));
}

bool UserDefaults::remove(const QString& key) {
    m_settings->remove(key);
    return sync();
}
