#include "DesktopEntryNames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

namespace {
// The [Desktop Entry] group of a desktop file: its keys, values with the Desktop Entry format's escapes undone.
QHash<QString, QString> readDesktopEntryGroup(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024) {
        return keys;
    }
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (inGroup) {
                break; // only the first group counts
            }
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || eq <= 0) {
            continue;
        }
        QString value = line.mid(eq + 1).trimmed();
        value.replace(QLatin1String("\\s"), QLatin1String(" "));
        value.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        keys.insert(line.left(eq).trimmed(), value);
    }
    return keys;
}

QString localizedName(const QHash<QString, QString>& keys) {
    const QString locale = QLocale().name(); // "de_DE"
    for (const QString& variant : {locale, locale.section(QLatin1Char('_'), 0, 0)}) {
        const QString value = keys.value(QStringLiteral("Name[%1]").arg(variant));
        if (!value.isEmpty()) {
            return value;
        }
    }
    return keys.value(QStringLiteral("Name"));
}

QDateTime stampOf(const QString& folder) {
    const QFileInfo info(folder);
    return info.exists() ? info.lastModified() : QDateTime();
}
} // namespace

DesktopEntryNames::DesktopEntryNames() = default;

DesktopEntryNames::DesktopEntryNames(QStringList applicationFolders)
    : m_fixedFolders(std::move(applicationFolders)) {}

QStringList DesktopEntryNames::applicationFoldersFromEnvironment() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) {
        home = QDir::homePath() + QStringLiteral("/.local/share");
    }
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty()) {
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    QStringList folders{home + QStringLiteral("/applications")};
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders.append(dir + QStringLiteral("/applications"));
    }
    return folders;
}

void DesktopEntryNames::refresh() {
    const QStringList folders = m_fixedFolders.value_or(applicationFoldersFromEnvironment());
    QList<QDateTime> stamps;
    for (const QString& folder : folders) {
        stamps.append(stampOf(folder));
    }
    if (m_loaded && folders == m_folders && stamps == m_stamps) {
        return;
    }
    m_folders = folders;
    m_stamps = stamps;
    m_loaded = true;
    m_entries.clear();
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QDir base(folder);
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        QStringList paths;
        while (it.hasNext()) {
            paths.append(it.next());
        }
        paths.sort();
        for (const QString& path : paths) {
            // The desktop file id: the path below the folder, with '/' as '-' and without ".desktop".
            QString id = base.relativeFilePath(path);
            id.chop(8);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seen.contains(id)) {
                continue; // hidden by the entry of an earlier folder
            }
            seen.insert(id);
            const QHash<QString, QString> keys = readDesktopEntryGroup(path);
            const QString type = keys.value(QStringLiteral("Type"), QStringLiteral("Application"));
            const QString name = localizedName(keys);
            if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
                type != QLatin1String("Application") || name.isEmpty()) {
                continue;
            }
            m_entries.append({id.toLower(), name, keys.value(QStringLiteral("StartupWMClass")).toLower()});
        }
    }
}

std::optional<QString> DesktopEntryNames::nameForWindow(const QString& windowClass,
                                                        const QString& instanceName) {
    QStringList keys;
    for (const QString& key : {windowClass.toLower(), instanceName.toLower()}) {
        if (!key.isEmpty()) {
            keys.append(key);
        }
    }
    if (keys.isEmpty()) {
        return std::nullopt;
    }
    refresh();
    const auto find = [&](auto matches) -> std::optional<QString> {
        for (const QString& key : keys) {
            for (const Entry& entry : m_entries) {
                if (matches(entry, key)) {
                    return entry.name;
                }
            }
        }
        return std::nullopt;
    };
    if (auto name = find([](const Entry& e, const QString& key) { return e.startupWMClass == key; })) {
        return name;
    }
    if (auto name = find([](const Entry& e, const QString& key) { return e.id == key; })) {
        return name;
    }
    return find([](const Entry& e, const QString& key) { return e.id.endsWith(QLatin1Char('.') + key); });
}
