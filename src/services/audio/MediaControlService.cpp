#include "MediaControlService.h"

#include "AppLogger.h"
#include "DesktopStateGuard.h"
#include "MutedStreamsRecord.h"
#include "OutputMuteControl.h"

#include <QCoreApplication>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

// "2 playback streams (Firefox, mpv)": what the log may say about streams.
QString describe(const QList<PlaybackStream>& streams) {
    QStringList names;
    for (const PlaybackStream& stream : streams) {
        const QString name = stream.appName.isEmpty() ? QStringLiteral("unnamed") : stream.appName;
        if (!names.contains(name))
            names << name;
    }
    return QString::number(streams.size()) +
           (streams.size() == 1 ? QStringLiteral(" playback stream (")
                                : QStringLiteral(" playback streams (")) +
           names.join(QStringLiteral(", ")) + QStringLiteral(")");
}

// The same stream: a server index is not given to another stream while the server runs, and the owner and
// name tell a stream of a restarted server apart.
bool sameStream(const PlaybackStream& a, const PlaybackStream& b) {
    return a.index == b.index && a.ownerPid == b.ownerPid && a.appName == b.appName;
}

bool containsStream(const QList<PlaybackStream>& streams, const PlaybackStream& stream) {
    return std::any_of(streams.begin(), streams.end(),
                       [&stream](const PlaybackStream& s) { return sameStream(s, stream); });
}

} // namespace

// Lives on the service's worker thread, where mute(), restore() and restoreLeftovers() run.
// restoreForExit() may run on another thread: every operation holds the mutex for its whole length, so
// they still run one at a time.
class MediaControlWorker : public QObject {
public:
    explicit MediaControlWorker(MediaControlService::OutputFactory openOutput)
        : m_openOutput(std::move(openOutput)) {}

    void mute();
    void restore();
    void restoreForExit();
    void restoreLeftovers();

private:
    struct Unmuted {
        QList<PlaybackStream> restored; // unmuted now, or found unmuted already
        QList<PlaybackStream> ended;    // no longer playing: forgotten
        QList<PlaybackStream> failed;   // still muted

        // "1 playback stream (Music); ended meanwhile: 1 playback stream (Video)"
        QString summary() const {
            QStringList parts;
            if (!restored.isEmpty())
                parts << describe(restored);
            if (!ended.isEmpty())
                parts << QStringLiteral("ended meanwhile: ") + describe(ended);
            return parts.join(QStringLiteral("; "));
        }
    };

    void restoreLocked();
    Unmuted unmute(const QList<PlaybackStream>& streams);
    void keepRecord();
    void holdForExit();
    OutputMuteControl& output();
    void logOutputFailure();

    std::mutex m_mutex;
    MediaControlService::OutputFactory m_openOutput;
    std::unique_ptr<OutputMuteControl> m_output; // opened on the worker thread, where it is used
    MutedStreamsRecord m_record;
    const qint64 m_ownPid = QCoreApplication::applicationPid();
    bool m_closed = false;          // after restoreForExit(): mutes do nothing
    DesktopStateGuard::Hold m_hold; // held while m_muted is not empty
    QList<PlaybackStream> m_muted;  // the streams this service muted and has not unmuted yet
    // The newest stream there was at the last mute: a muted stream newer than it, of an application whose
    // stream we muted and which ended, took our mute over (sound servers remember a stream's mute for the
    // application's next one).
    std::optional<quint32> m_newestAtMute;
};

OutputMuteControl& MediaControlWorker::output() {
    if (!m_output)
        m_output = m_openOutput();
    return *m_output;
}

void MediaControlWorker::logOutputFailure() {
    AppLogger::error(QStringLiteral("Audio mute PulseAudio request failed: ") + output().lastErrorText());
}

// The record follows m_muted: written while it holds streams, deleted when it is empty.
void MediaControlWorker::keepRecord() {
    if (m_muted.isEmpty()) {
        if (!m_record.remove())
            AppLogger::error(QStringLiteral("Could not delete the record of muted streams"));
        return;
    }
    QString why;
    if (!m_record.write(m_muted, &why))
        AppLogger::error(QStringLiteral("Could not keep the record of muted streams: ") + why);
}

void MediaControlWorker::mute() {
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;

    const std::optional<QList<PlaybackStream>> streams = output().playbackStreams();
    if (!streams) {
        logOutputFailure();
        AppLogger::info(QStringLiteral("Unable to read system mute state"));
        return;
    }
    // Other processes' streams on the speakers only: ours carry the cues, a stream without an owner is the
    // sound server's own (a loopback), and one into another sink may be what feeds the microphone. Streams
    // muted by us already keep our mute; the user's stay alone.
    QList<PlaybackStream> toMute, mutedByUser;
    for (const PlaybackStream& stream : *streams) {
        m_newestAtMute = std::max(m_newestAtMute.value_or(0), stream.index);
        if (stream.ownerPid <= 0 || stream.ownerPid == m_ownPid || !stream.toDefaultOutput ||
            containsStream(m_muted, stream))
            continue;
        (stream.muted ? mutedByUser : toMute) << stream;
    }
    if (toMute.isEmpty()) {
        if (!m_muted.isEmpty())
            return; // our mute still stands and nothing new plays
        AppLogger::info(mutedByUser.isEmpty()
                            ? QStringLiteral("No other application is playing sound")
                            : QStringLiteral("System audio already muted: ") + describe(mutedByUser));
        return;
    }

    // Recorded before the first request: whatever ends the process from here on, the next start knows
    // what to unmute.
    const QList<PlaybackStream> before = m_muted;
    m_muted += toMute;
    keepRecord();
    QList<PlaybackStream> muted, failed;
    for (PlaybackStream stream : toMute) {
        stream.muted = true;
        switch (output().setStreamMuted(stream.index, true)) {
        case OutputMuteControl::Result::Done:
            muted << stream;
            break;
        case OutputMuteControl::Result::NoSuchStream:
            break; // it ended meanwhile
        case OutputMuteControl::Result::Failed:
            logOutputFailure();
            failed << stream;
            break;
        }
    }
    m_muted = before + muted;
    if (m_muted.size() != before.size() + toMute.size())
        keepRecord();
    if (!failed.isEmpty())
        AppLogger::error(QStringLiteral("Failed to set system mute state to true: ") + describe(failed));
    if (muted.isEmpty())
        return;
    holdForExit();
    QString line = QStringLiteral("Muted system audio for dictation: ") + describe(muted);
    if (!mutedByUser.isEmpty())
        line += QStringLiteral("; left alone, muted already: ") + describe(mutedByUser);
    AppLogger::info(line);
}

// Unmutes those of `streams` that still play and are still muted.
MediaControlWorker::Unmuted MediaControlWorker::unmute(const QList<PlaybackStream>& streams) {
    Unmuted outcome;
    const std::optional<QList<PlaybackStream>> current = output().playbackStreams();
    if (!current) {
        logOutputFailure();
        outcome.failed = streams;
        return outcome;
    }
    QList<PlaybackStream> toUnmute;
    for (const PlaybackStream& stream : streams) {
        const auto now = std::find_if(current->begin(), current->end(),
                                      [&stream](const PlaybackStream& s) { return sameStream(s, stream); });
        if (now == current->end()) {
            outcome.ended << stream;
            // The application's newer streams that started muted inherited our mute: they are given back too.
            for (const PlaybackStream& successor : *current) {
                if (m_newestAtMute && successor.index > *m_newestAtMute && successor.muted &&
                    successor.ownerPid == stream.ownerPid && successor.appName == stream.appName &&
                    !containsStream(toUnmute, successor) && !containsStream(streams, successor)) {
                    toUnmute << successor;
                }
            }
            continue;
        }
        toUnmute << *now;
    }
    for (const PlaybackStream& stream : toUnmute) {
        if (!stream.muted) { // unmuted by the user meanwhile
            outcome.restored << stream;
            continue;
        }
        switch (output().setStreamMuted(stream.index, false)) {
        case OutputMuteControl::Result::Done:
            outcome.restored << stream;
            break;
        case OutputMuteControl::Result::NoSuchStream:
            outcome.ended << stream;
            break;
        case OutputMuteControl::Result::Failed:
            logOutputFailure();
            outcome.failed << stream;
            break;
        }
    }
    return outcome;
}

void MediaControlWorker::restore() {
    std::lock_guard lock(m_mutex);
    restoreLocked();
}

void MediaControlWorker::restoreForExit() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    restoreLocked();
    // Nobody is left to try again: what failed stays in the record for the next start.
    m_hold.release();
}

void MediaControlWorker::restoreLocked() {
    if (m_muted.isEmpty())
        return;
    const Unmuted outcome = unmute(m_muted);
    // What could not be unmuted stays ours: the next restore (or the next start) tries again.
    m_muted = outcome.failed;
    keepRecord();
    if (m_muted.isEmpty())
        m_hold.release();
    if (!outcome.failed.isEmpty())
        AppLogger::error(QStringLiteral("Failed to set system mute state to false: ") +
                         describe(outcome.failed));
    if (!outcome.restored.isEmpty() || !outcome.ended.isEmpty())
        AppLogger::info(QStringLiteral("Restored system audio after dictation: ") + outcome.summary());
}

void MediaControlWorker::restoreLeftovers() {
    std::lock_guard lock(m_mutex);
    QString why;
    const std::optional<MutedStreamsRecord::Contents> contents = m_record.read(&why);
    if (!contents) {
        if (!why.isEmpty()) {
            AppLogger::error(QStringLiteral("Ignoring an unreadable record of muted streams: ") + why);
            m_record.remove();
        }
        return;
    }
    if (MutedStreamsRecord::writerIsRunning(*contents)) {
        AppLogger::info(QStringLiteral("Muted streams recorded by a running process left alone: ") +
                        describe(contents->streams));
        return;
    }
    const Unmuted outcome = unmute(contents->streams);
    if (!outcome.failed.isEmpty()) {
        // Ours now: unmuted by the next restore, the exit, or the next start.
        m_muted += outcome.failed;
        if (!m_closed)
            holdForExit();
        AppLogger::error(QStringLiteral("Failed to set system mute state to false: ") +
                         describe(outcome.failed));
    }
    keepRecord();
    if (!outcome.restored.isEmpty() || !outcome.ended.isEmpty()) {
        AppLogger::info(QStringLiteral("Restored system audio left muted by an earlier run: ") +
                        outcome.summary());
    }
}

void MediaControlWorker::holdForExit() {
    if (!m_hold.isHeld()) {
        m_hold = DesktopStateGuard::instance().hold(
            QStringLiteral("output mute"), DesktopStateGuard::Needs::Nothing, [this] { restoreForExit(); });
    }
}

MediaControlService::MediaControlService(OutputFactory openOutput, QObject* parent)
    : QObject(parent), m_worker(new MediaControlWorker(std::move(openOutput))) {
    m_thread.setObjectName(QStringLiteral("app.quillvane.desktop.media-control"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

MediaControlService::~MediaControlService() {
    flush();
    m_thread.quit();
    m_thread.wait();
    m_worker->restoreForExit(); // a mute without its restore must not outlive the service
    delete m_worker;            // its thread has ended: nothing else touches it now
}

void MediaControlService::muteIfNeeded() {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->mute(); }, Qt::QueuedConnection);
}

void MediaControlService::restoreMuteStateIfNeeded() {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->restore(); }, Qt::QueuedConnection);
}

void MediaControlService::restoreLeftoverMutes() {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->restoreLeftovers(); }, Qt::QueuedConnection);
}

void MediaControlService::restoreForExit() {
    m_worker->restoreForExit();
}

void MediaControlService::flush() {
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}
