#include "MutedStreamsRecord.h"

#include "AtomicFile.h"
#include "RuntimeDirectory.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

constexpr qint64 kMaxRecordBytes = 64 * 1024;

// The start time of process `pid` (field 22 of /proc/<pid>/stat, clock ticks since boot); none when it
// cannot be read (no such process).
std::optional<quint64> processStartTime(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    // The command name (field 2) is in parentheses and may hold spaces and parentheses itself.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    constexpr int kStartTimeAfterName = 22 - 3; // fields counted from 1; field 3 is the first after ")"
    if (fields.size() <= kStartTimeAfterName)
        return std::nullopt;
    bool ok = false;
    const quint64 start = fields[kStartTimeAfterName].toULongLong(&ok);
    return ok ? std::optional(start) : std::nullopt;
}

// A whole number in [minimum, maximum] from a JSON value; none otherwise.
std::optional<qint64> wholeNumber(const QJsonValue& value, qint64 minimum, qint64 maximum) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < double(minimum) || number > double(maximum))
        return std::nullopt;
    return qint64(number);
}

} // namespace

MutedStreamsRecord::MutedStreamsRecord(QString path) : m_path(std::move(path)) {
    if (m_path.isEmpty()) {
        const QString folder = RuntimeDirectory::path();
        if (!folder.isEmpty())
            m_path = QDir(folder).filePath(QStringLiteral("muted-streams.json"));
    }
}

bool MutedStreamsRecord::write(const QList<PlaybackStream>& streams, QString* error) {
    if (m_path.isEmpty()) {
        *error = QStringLiteral("no private runtime folder");
        return false;
    }
    QJsonArray list;
    for (const PlaybackStream& stream : streams) {
        list.append(QJsonObject{{QStringLiteral("index"), qint64(stream.index)},
                                {QStringLiteral("pid"), stream.ownerPid},
                                {QStringLiteral("app"), stream.appName}});
    }
    const qint64 pid = ::getpid();
    const QJsonObject writer{{QStringLiteral("pid"), pid},
                             {QStringLiteral("started"), qint64(processStartTime(pid).value_or(0))}};
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("writer"), writer}, {QStringLiteral("streams"), list}})
            .toJson(QJsonDocument::Compact);

    return AtomicFile::replace(m_path, bytes, error, AtomicFile::OwnerOnly);
}

std::optional<MutedStreamsRecord::Contents> MutedStreamsRecord::read(QString* error) const {
    error->clear();
    if (m_path.isEmpty())
        return std::nullopt;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > kMaxRecordBytes) {
        *error = QStringLiteral("too large");
        return std::nullopt;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString();
        return std::nullopt;
    }
    const auto bad = [error](const QString& why) {
        *error = why;
        return std::nullopt;
    };
    if (!document.isObject())
        return bad(QStringLiteral("not an object"));
    const QJsonObject root = document.object();
    const QJsonObject writer = root.value(QStringLiteral("writer")).toObject();
    const auto writerPid =
        wholeNumber(writer.value(QStringLiteral("pid")), 1, std::numeric_limits<int>::max());
    const auto writerStart =
        wholeNumber(writer.value(QStringLiteral("started")), 0, std::numeric_limits<qint64>::max());
    if (!writerPid || !writerStart)
        return bad(QStringLiteral("no writer"));
    if (!root.value(QStringLiteral("streams")).isArray())
        return bad(QStringLiteral("no stream list"));

    Contents contents;
    contents.writerPid = *writerPid;
    contents.writerStart = quint64(*writerStart);
    for (const QJsonValue& value : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject entry = value.toObject();
        const auto index =
            wholeNumber(entry.value(QStringLiteral("index")), 0, std::numeric_limits<quint32>::max());
        const auto pid = wholeNumber(entry.value(QStringLiteral("pid")), 1, std::numeric_limits<int>::max());
        const QJsonValue app = entry.value(QStringLiteral("app"));
        if (!value.isObject() || !index || !pid || !app.isString())
            return bad(QStringLiteral("a stream without its index, owner or name"));
        contents.streams.append(PlaybackStream{quint32(*index), *pid, app.toString(), true});
    }
    return contents;
}

bool MutedStreamsRecord::remove() {
    return m_path.isEmpty() || !QFile::exists(m_path) || QFile::remove(m_path);
}

bool MutedStreamsRecord::writerIsRunning(const Contents& contents) {
    const pid_t pid = pid_t(contents.writerPid);
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    if (contents.writerStart == 0)
        return true; // no start time to tell a new process of the same pid from the writer
    const std::optional<quint64> start = processStartTime(contents.writerPid);
    return start && *start == contents.writerStart;
}
