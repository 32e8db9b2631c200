#include "MediaControlService.h"

#include "AppLogger.h"
#include "DesktopStateGuard.h"
#include "OutputMuteControl.h"

#include <memory>
#include <mutex>
#include <optional>

// Lives on the service's worker thread, where mute() and restore() run. restoreForExit() may run on
// another thread: every operation holds the mutex for its whole length, so they still run one at a time.
class MediaControlWorker : public QObject {
public:
    explicit MediaControlWorker(MediaControlService::OutputFactory openOutput)
        : m_openOutput(openOutput ? std::move(openOutput) : &OutputMuteControl::open) {}

    void mute();
    void restore();
    void restoreForExit();

private:
    void restoreLocked();
    OutputMuteControl& output();
    void logOutputFailure();
    std::optional<bool> currentMuteState(QString* sinkName);

    std::mutex m_mutex;
    MediaControlService::OutputFactory m_openOutput;
    std::unique_ptr<OutputMuteControl> m_output; // opened on the worker thread, where it is used
    bool m_closed = false;                       // after restoreForExit(): mutes do nothing
    DesktopStateGuard::Hold m_hold;              // held while m_mutedByQuillvane
    bool m_mutedByQuillvane = false;
    std::optional<bool> m_previousMuteState;
    QString m_mutedSink; // the sink we muted; the restore unmutes this one even if the default changed
};

OutputMuteControl& MediaControlWorker::output() {
    if (!m_output)
        m_output = m_openOutput();
    return *m_output;
}

void MediaControlWorker::logOutputFailure() {
    AppLogger::error(QStringLiteral("Audio mute PulseAudio request failed: ") + output().lastErrorText());
}

std::optional<bool> MediaControlWorker::currentMuteState(QString* sinkName) {
    const std::optional<QString> sink = output().defaultOutputId();
    if (!sink || sink->isEmpty()) {
        logOutputFailure();
        return std::nullopt;
    }
    const std::optional<bool> muted = output().isMuted(*sink);
    if (!muted) {
        logOutputFailure();
        return std::nullopt;
    }
    *sinkName = *sink;
    return muted;
}

void MediaControlWorker::mute() {
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    // Our own mute still stands: reading it back would take it for the user's and the restore would then
    // leave the output muted for good.
    if (m_mutedByQuillvane)
        return;

    QString sink;
    const std::optional<bool> state = currentMuteState(&sink);
    if (!state) {
        m_mutedByQuillvane = false;
        m_previousMuteState.reset();
        AppLogger::info(QStringLiteral("Unable to read system mute state"));
        return;
    }
    m_previousMuteState = state;
    if (*state) {
        m_mutedByQuillvane = false;
        AppLogger::info(QStringLiteral("System audio already muted"));
        return;
    }
    if (!output().setMuted(sink, true)) {
        logOutputFailure();
        AppLogger::error(QStringLiteral("Failed to set system mute state to true"));
        m_mutedByQuillvane = false;
        return;
    }
    m_mutedByQuillvane = true;
    m_mutedSink = sink;
    m_hold = DesktopStateGuard::instance().hold(
        QStringLiteral("output mute"), DesktopStateGuard::Needs::Nothing, [this] { restoreForExit(); });
    AppLogger::info(QStringLiteral("Muted system audio for dictation"));
}

void MediaControlWorker::restore() {
    std::lock_guard lock(m_mutex);
    restoreLocked();
}

void MediaControlWorker::restoreForExit() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    restoreLocked();
}

void MediaControlWorker::restoreLocked() {
    if (m_mutedByQuillvane) {
        m_mutedByQuillvane = false;
        if (output().setMuted(m_mutedSink, false)) {
            AppLogger::info(QStringLiteral("Restored system audio after dictation"));
        } else {
            logOutputFailure();
            AppLogger::error(QStringLiteral("Failed to set system mute state to false"));
        }
        m_mutedSink.clear();
        m_hold.release();
    }
    m_previousMuteState.reset();
}

MediaControlService::MediaControlService(QObject* parent) : MediaControlService(OutputFactory{}, parent) {}

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

void MediaControlService::restoreForExit() {
    m_worker->restoreForExit();
}

void MediaControlService::flush() {
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}
