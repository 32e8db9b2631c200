#include "LaunchAtLoginManager.h"

#include "AppLogger.h"
#include "AtomicFile.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString defaultConfigHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// A desktop entry value is quoted when it holds characters the Exec syntax reserves.
QString quotedProgram(const QString& program) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : program) {
        needsQuotes = needsQuotes || reserved.contains(c);
    }
    if (!needsQuotes) {
        return program;
    }
    QString escaped = program;
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\\\\\"));
    escaped.replace(QLatin1String("\""), QLatin1String("\\\\\""));
    escaped.replace(QLatin1String("`"), QLatin1String("\\\\`"));
    escaped.replace(QLatin1String("$"), QLatin1String("\\\\$"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

LaunchAtLoginManager::LaunchAtLoginManager(UserDefaults& defaults, QString configHome, QString program,
                                           QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome)),
      m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program)) {}

QString LaunchAtLoginManager::entryPath() const {
    return QDir(m_configHome).filePath(QStringLiteral("autostart/quillvane.desktop"));
}

LaunchAtLoginManager::Status LaunchAtLoginManager::status() const {
    const QFileInfo info(entryPath());
    if (!info.exists()) {
        return Status::NotRegistered;
    }
    QFile file(entryPath());
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        return Status::Unavailable;
    }
    // Only the [Desktop Entry] group counts; "Hidden=true" there means the user switched it off.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inMainGroup && eq > 0 && line.left(eq).trimmed() == QLatin1String("Hidden") &&
            line.mid(eq + 1).trimmed() == QLatin1String("true")) {
            return Status::NotRegistered;
        }
    }
    return Status::Enabled;
}

void LaunchAtLoginManager::refresh() {
    publish(status());
    configureDefaultIfNeeded(status());
}

void LaunchAtLoginManager::publish(Status status) {
    const bool enabled = status == Status::Enabled;
    const QString text = status == Status::Enabled         ? kEnabledText
                         : status == Status::NotRegistered ? kNotRegisteredText
                                                           : kUnavailableText;
    if (m_isEnabled != enabled) {
        m_isEnabled = enabled;
        emit isEnabledChanged();
    }
    if (m_statusText != text) {
        m_statusText = text;
        emit statusTextChanged();
    }
}

void LaunchAtLoginManager::configureDefaultIfNeeded(Status current) {
    if (m_defaults.contains(kDefaultConfiguredKey)) {
        return;
    }
    if (current == Status::NotRegistered) {
        QString error;
        if (registerEntry(error)) {
            publish(Status::Enabled);
            AppLogger::info(QStringLiteral("Enabled launch at login by default on first run"));
        } else {
            AppLogger::error(QStringLiteral("Failed to enable launch at login by default: ") + error);
        }
    }
    m_defaults.setBool(kDefaultConfiguredKey, true);
}

bool LaunchAtLoginManager::registerEntry(QString& error) const {
    const QString folder = QFileInfo(entryPath()).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the autostart folder %1").arg(folder);
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quillvane\n"
                                         "Comment=Push-to-talk dictation\n"
                                         "Exec=%1\n"
                                         "Icon=quillvane\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedProgram(m_program));
    return AtomicFile::replace(entryPath(), entry.toUtf8(), &error);
}
