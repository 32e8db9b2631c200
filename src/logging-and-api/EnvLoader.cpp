#include "EnvLoader.h"

#include "AppLogger.h"
#include "TextUtilities.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

// How many folders, starting with the executable's own, are searched upwards.
constexpr int kAncestorPasses = 8;

// `directory` joined with a relative path, with "." and ".." resolved (symbolic links are not);
// ".." at the root stays at the root.
QString standardized(const QString& directory, const QString& relative) {
    QString path = QDir::cleanPath(QDir(directory).absolutePath() + QLatin1Char('/') + relative);
    const QString aboveRoot = QStringLiteral("/..");
    while (path == aboveRoot || path.startsWith(aboveRoot + QLatin1Char('/'))) {
        path = path.size() == aboveRoot.size() ? QStringLiteral("/") : path.mid(aboveRoot.size());
    }
    return path;
}

QString executableDirectory() {
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationDirPath();
    }
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
}

bool isLineBreak(QChar c) {
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

QStringList splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineBreak(text.at(i))) {
            lines << text.mid(start, i - start);
            start = i + 1;
        }
    }
    lines << text.mid(start);
    return lines;
}

QString withoutEnclosingQuotes(const QString& value) {
    if (value.size() < 2) {
        return value;
    }
    for (const QChar quote : {QLatin1Char('"'), QLatin1Char('\'')}) {
        if (value.startsWith(quote) && value.endsWith(quote)) {
            return value.mid(1, value.size() - 2);
        }
    }
    return value;
}

} // namespace

QStringList EnvLoader::candidatePaths(const QString& workingDirectory, const QString& executableDirectory) {
    QStringList candidates;
    auto add = [&candidates](const QString& directory, const QString& relative) {
        const QString path = standardized(directory, relative);
        if (!candidates.contains(path)) {
            candidates << path;
        }
    };
    const QString dotEnv = QStringLiteral(".env");

    add(workingDirectory, dotEnv);
    add(standardized(workingDirectory, QStringLiteral("..")), dotEnv);

    if (executableDirectory.isEmpty()) {
        return candidates;
    }
    const QString resources = standardized(executableDirectory, QStringLiteral("../share/quillvane"));
    if (QFileInfo(resources).isDir()) {
        add(resources, dotEnv);
    }
    QString folder = standardized(executableDirectory, QStringLiteral("."));
    for (int pass = 0; pass < kAncestorPasses; ++pass) {
        add(folder, dotEnv);
        folder = standardized(folder, QStringLiteral(".."));
    }
    return candidates;
}

void EnvLoader::loadIfPresent() {
    const QStringList candidates = candidatePaths(QDir::currentPath(), executableDirectory());
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            loadEnvFile(candidate);
            AppLogger::info(QStringLiteral("Loaded environment overrides from ") + candidate);
            return;
        }
    }
    AppLogger::info(QStringLiteral("No .env file found at start-up"));
}

void EnvLoader::loadEnvFile(const QString& path) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError()) {
        return;
    }

    QStringList ignored;
    for (const QString& rawLine : splitLines(text)) {
        const QString line = Text::trimmed(rawLine);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            continue;
        }
        const QString name = Text::trimmed(line.left(equals));
        if (name.isEmpty()) {
            continue;
        }
        if (!isAllowedName(name)) {
            if (!ignored.contains(name)) {
                ignored << name;
            }
            continue;
        }
        const QByteArray nativeName = name.toUtf8();
        if (qEnvironmentVariableIsSet(nativeName.constData())) {
            continue;
        }
        const QString value = withoutEnclosingQuotes(Text::trimmed(line.mid(equals + 1)));
        qputenv(nativeName.constData(), value.toUtf8());
    }
    if (!ignored.isEmpty()) {
        // The names only: a value may be a secret.
        AppLogger::info(QStringLiteral("Ignored .env variables the app does not read names=") +
                        ignored.join(QLatin1Char(',')));
    }
}

bool EnvLoader::isAllowedName(const QString& name) {
    static const QStringList others{
        QStringLiteral("GOOGLE_CLIENT_SECRETS_FILE"), QStringLiteral("MICROSOFT_CLIENT_ID"),
        QStringLiteral("MICROSOFT_TENANT_ID"), QStringLiteral("MICROSOFT_REDIRECT_URI")};
    return (name.startsWith(QLatin1String("QUILLVANE_")) && name.size() > 10) || others.contains(name);
}
