#include "LaunchAtLoginManager.h"

#include "AppLogger.h"
#include "AtomicFile.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

const QString kEntryName = QStringLiteral("quillvane.desktop");

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

// A string value with the desktop-entry escapes (\s \n \t \r \\) undone.
QString unescapedValue(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        out += next == QLatin1Char('s')   ? QChar(' ')
               : next == QLatin1Char('n') ? QChar('\n')
               : next == QLatin1Char('t') ? QChar('\t')
               : next == QLatin1Char('r') ? QChar('\r')
                                          : next;
    }
    return out;
}

// The first word of an Exec value: up to the first blank, or a double-quoted word in which a backslash
// takes the next character as it is.
QString firstExecWord(const QString& exec) {
    const QString text = exec.trimmed();
    if (!text.startsWith(QLatin1Char('"'))) {
        const qsizetype blank = text.indexOf(QRegularExpression(QStringLiteral("\\s")));
        return blank < 0 ? text : text.left(blank);
    }
    QString word;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            word += text[++i];
        } else if (text[i] == QLatin1Char('"')) {
            return word;
        } else {
            word += text[i];
        }
    }
    return {}; // unterminated quote
}

// The keys of the [Desktop Entry] group; none when the file cannot be read.
std::optional<QHash<QString, QString>> mainGroupOf(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QHash<QString, QString> keys;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inMainGroup && eq > 0 && !line.startsWith(QLatin1Char('#'))) {
            const QString key = line.left(eq).trimmed();
            if (!keys.contains(key)) {
                keys.insert(key, unescapedValue(line.mid(eq + 1).trimmed()));
            }
        }
    }
    return keys;
}

bool isTrue(const QString& value) {
    return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool isFalse(const QString& value) {
    return value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

// An executable file for `program`: itself when absolute, else looked up through PATH.
std::optional<QString> resolvedProgram(const QString& program) {
    if (program.isEmpty()) {
        return std::nullopt;
    }
    if (QDir::isAbsolutePath(program)) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? std::optional<QString>(program) : std::nullopt;
    }
    if (program.contains(QLatin1Char('/'))) {
        return std::nullopt;
    }
    const QString found = QStandardPaths::findExecutable(program);
    return found.isEmpty() ? std::nullopt : std::optional<QString>(found);
}

QString canonical(const QString& path) {
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

} // namespace

LaunchAtLoginManager::LaunchAtLoginManager(UserDefaults& defaults, QString configHome,
                                           QString installedProgram, QString runningProgram, QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome)),
      m_installed(installedProgram.isEmpty() ? findInstalledProgram()
                                             : std::optional<QString>(std::move(installedProgram))),
      m_running(runningProgram.isEmpty() ? QCoreApplication::applicationFilePath()
                                         : std::move(runningProgram)) {}

std::optional<QString> LaunchAtLoginManager::findInstalledProgram() {
    for (const QString& path : QStandardPaths::locateAll(QStandardPaths::ApplicationsLocation, kEntryName)) {
        const auto keys = mainGroupOf(path);
        if (!keys) {
            continue;
        }
        if (auto program = resolvedProgram(firstExecWord(keys->value(QStringLiteral("Exec"))))) {
            return program;
        }
    }
    return std::nullopt;
}

QString LaunchAtLoginManager::entryPath() const {
    return QDir(m_configHome).filePath(QStringLiteral("autostart/") + kEntryName);
}

std::optional<QString> LaunchAtLoginManager::entryProgram() const {
    const auto keys = mainGroupOf(entryPath());
    if (!keys) {
        return std::nullopt;
    }
    return firstExecWord(keys->value(QStringLiteral("Exec")));
}

LaunchAtLoginManager::Status LaunchAtLoginManager::status() const {
    if (!QFileInfo::exists(entryPath())) {
        return Status::NotRegistered;
    }
    const auto keys = mainGroupOf(entryPath());
    if (!keys) {
        return Status::Unavailable;
    }
    // Only the [Desktop Entry] group counts; either key is how a desktop's startup settings switch an
    // entry off without removing it.
    if (isTrue(keys->value(QStringLiteral("Hidden"))) ||
        isFalse(keys->value(QStringLiteral("X-GNOME-Autostart-enabled")))) {
        return Status::NotRegistered;
    }
    return Status::Enabled;
}

void LaunchAtLoginManager::refresh() {
    publish(status());
    configureDefaultIfNeeded(status());
}

void LaunchAtLoginManager::setEnabled(bool enabled) {
    if (enabled) {
        const QString program = m_installed.value_or(m_running);
        QString error;
        if (registerEntry(program, error)) {
            AppLogger::info(QStringLiteral("Enabled launch at login for ") + program);
        } else {
            AppLogger::error(QStringLiteral("Failed to enable launch at login: ") + error);
        }
    } else if (QFileInfo::exists(entryPath())) {
        QFile entry(entryPath());
        if (entry.remove()) {
            AppLogger::info(QStringLiteral("Disabled launch at login"));
        } else {
            AppLogger::error(QStringLiteral("Failed to disable launch at login: ") + entry.errorString());
        }
    }
    m_defaults.setBool(kDefaultConfiguredKey, true);
    publish(status());
}

void LaunchAtLoginManager::publish(Status status) {
    const bool enabled = status == Status::Enabled;
    const QString text = status == Status::Enabled         ? kEnabledText
                         : status == Status::NotRegistered ? kNotRegisteredText
                                                           : kUnavailableText;
    QString target;
    if (enabled) {
        const QString program = entryProgram().value_or(QString());
        const std::optional<QString> resolved = resolvedProgram(program);
        const bool installed =
            m_installed && canonical(resolved.value_or(program)) == canonical(*m_installed);
        if (!program.isEmpty() && !installed) {
            target = (resolved ? kOtherTargetText : kMissingTargetText).arg(program);
        }
    }
    if (m_isEnabled != enabled) {
        m_isEnabled = enabled;
        emit isEnabledChanged();
    }
    if (m_statusText != text) {
        m_statusText = text;
        emit statusTextChanged();
    }
    if (m_targetText != target) {
        m_targetText = target;
        emit targetTextChanged();
    }
}

void LaunchAtLoginManager::configureDefaultIfNeeded(Status current) {
    if (m_defaults.contains(kDefaultConfiguredKey)) {
        return;
    }
    if (!m_installed) {
        // A build tree must not register itself: at the next login it would start without what the run
        // set up around it. The installed program makes the first-run choice when it first runs.
        if (!m_toldNotInstalled) {
            m_toldNotInstalled = true;
            AppLogger::info(QStringLiteral("Launch at login left off: Quillvane is not installed (running ") +
                            m_running + QLatin1Char(')'));
        }
        return;
    }
    if (current == Status::NotRegistered) {
        QString error;
        if (registerEntry(*m_installed, error)) {
            publish(Status::Enabled);
            AppLogger::info(QStringLiteral("Enabled launch at login by default on first run"));
        } else {
            AppLogger::error(QStringLiteral("Failed to enable launch at login by default: ") + error);
        }
    }
    m_defaults.setBool(kDefaultConfiguredKey, true);
}

bool LaunchAtLoginManager::registerEntry(const QString& program, QString& error) const {
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
                              .arg(quotedProgram(program));
    return AtomicFile::replace(entryPath(), entry.toUtf8(), &error);
}
