#include "UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

namespace {
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

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson, Qt::CaseSensitive);
    return format;
}
} // namespace

UserDefaults::UserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, jsonFormat())) {
    m_settings->setFallbacksEnabled(false);
    if (m_settings->status() == QSettings::FormatError) {
        // A file we cannot read would be replaced by the next write: keep it aside instead.
        const QString aside =
            filePath + QStringLiteral(".corrupt-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        m_settings.reset();
        if (QFile::rename(filePath, aside)) {
            qWarning("Settings file %s could not be read; kept it as %s", qUtf8Printable(filePath),
                     qUtf8Printable(aside));
        } else {
            qWarning("Settings file %s could not be read nor set aside", qUtf8Printable(filePath));
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

void UserDefaults::write(const QString& key, const QVariant& value) {
    m_settings->setValue(key, value);
    m_settings->sync();
}

void UserDefaults::setBool(const QString& key, bool value) {
    write(key, value);
}
void UserDefaults::setInteger(const QString& key, qint64 value) {
    write(key, value);
}

void UserDefaults::setDouble(const QString& key, double value) {
    if (std::isfinite(value)) {
        write(key, value);
    }
}

void UserDefaults::setString(const QString& key, const QString& value) {
    write(key, value);
}
void UserDefaults::setData(const QString& key, const QByteArray& value) {
    write(key, QString::fromUtf8(value));
}

void UserDefaults::remove(const QString& key) {
    m_settings->remove(key);
    m_settings->sync();
}
