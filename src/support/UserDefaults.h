#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

// The typed key-value store of user preferences ("quillvane.*" keys). It is a QSettings file in a JSON
// format, so a stored bool reads back as a bool and a number as a number: readers can tell a value of
// the wrong type from a missing one. Every write reaches the file at once.
//
// A write that does not reach the disk (a full disk) leaves the file as it was, is logged ("Failed to save
// settings: …") and returns false; the value is still seen in memory and is written with the next change.
//
// Stored kinds: bool, integer (qint64), double, string, and data (bytes, kept as UTF-8 text: the
// structured settings store their JSON text here).
class UserDefaults {
public:
    // The store in `filePath` (created on first write).
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's store: "settings.json" under QStandardPaths::AppConfigLocation.
    static UserDefaults& standard();
    static QString standardFilePath();

    bool contains(const QString& key) const;
    // The raw stored value: QMetaType Bool, LongLong, Double or QString; invalid when absent.
    QVariant value(const QString& key) const;

    // Typed reads: nothing when the key is absent or holds another kind (an integer counts as a double).
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> integerValue(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;

    // Each returns whether the file now holds the change.
    bool setBool(const QString& key, bool value);
    bool setInteger(const QString& key, qint64 value);
    bool setDouble(const QString& key, double value); // a value that is not finite is not stored
    bool setString(const QString& key, const QString& value);
    bool setData(const QString& key, const QByteArray& value);
    bool remove(const QString& key);

    QString filePath() const;

private:
    bool write(const QString& key, const QVariant& value);
    bool sync();
    std::unique_ptr<QSettings> m_settings;
};
