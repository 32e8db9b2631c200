#pragma once

#include "RuntimeLogCapture.h"

// Small fixtures shared by the settings tests: a user-defaults file in a temporary folder (also written
// raw, to hold values of any JSON kind), a capture of the "runtime" logging category, and scoped
// environment variables.

#include "HotkeyDefinition.h"
#include "UserDefaults.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <optional>

inline char* toString(const HotkeyDefinition& hotkey) {
    return QTest::toString(QStringLiteral("{id %1, key %2, mods 0x%3, fn %4, modifierOnly %5}")
                               .arg(hotkey.id)
                               .arg(hotkey.keyCode)
                               .arg(hotkey.carbonModifiers, 0, 16)
                               .arg(hotkey.includesFunctionKey)
                               .arg(hotkey.isModifierOnly));
}

inline char* toString(const std::optional<HotkeyDefinition>& hotkey) {
    return hotkey ? toString(*hotkey) : qstrdup("none");
}

// A user-defaults file of its own. `writeRaw` plants a JSON object (values of any kind) in a new file
// and opens the store over it. (A new file each time: QSettings caches a file's contents per process
// and may not notice a rewrite of the same size within the same second.)
class TestDefaults {
public:
    TestDefaults() : m_path(m_dir.filePath(QStringLiteral("settings.json"))) {}

    void writeRaw(const QJsonObject& object) {
        m_store.reset();
        m_path = m_dir.filePath(QStringLiteral("settings-%1.json").arg(++m_generation));
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(object).toJson());
    }

    UserDefaults& store() {
        if (!m_store) {
            m_store = std::make_unique<UserDefaults>(m_path);
        }
        return *m_store;
    }

    // What the file holds now, as another reader would see it.
    QJsonObject fileContents() const {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    bool fileExists() const { return QFile::exists(m_path); }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_generation = 0;
    std::unique_ptr<UserDefaults> m_store;
};

// Sets (or unsets, for a null value) environment variables and restores them when it goes.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                qputenv(name.constData(), *value);
            } else {
                qunsetenv(name.constData());
            }
        }
    }

    void set(const QByteArray& name, const std::optional<QByteArray>& value) {
        if (!m_saved.contains(name)) {
            m_saved[name] = qEnvironmentVariableIsSet(name.constData())
                                ? std::optional(qgetenv(name.constData()))
                                : std::nullopt;
        }
        if (value) {
            qputenv(name.constData(), *value);
        } else {
            qunsetenv(name.constData());
        }
    }

private:
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};
