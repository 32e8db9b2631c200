// MediaControlService against the test session's PulseAudio: the output is muted for a dictation and
// unmuted afterwards only when the service muted it, checked with `pactl get-sink-mute`.

#include "AppLogger.h"
#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "DesktopStateGuard.h"
#include "MediaControlService.h"

#include <QtTest>

using namespace audiotest;

namespace {
const QString kSpeakers = QStringLiteral("speakers");
const QString kMicFeed = QStringLiteral("micfeed");

void setMuted(const QString& sink, bool muted) {
    pactl({QStringLiteral("set-sink-mute"), sink, muted ? QStringLiteral("1") : QStringLiteral("0")});
}

// The runtime log lines of the test, from the "runtime" logging category.
QStringList g_lines;
QtMessageHandler g_previous = nullptr;
void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category && QByteArray(context.category) == "runtime")
        g_lines << message;
    if (g_previous)
        g_previous(type, context, message);
}
} // namespace

class TestMediaControl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        g_previous = qInstallMessageHandler(collect);
        QCOMPARE(pactl({QStringLiteral("get-default-sink")}).output, kSpeakers);
    }

    void init() {
        setMuted(kSpeakers, false);
        setMuted(kMicFeed, false);
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        g_lines.clear();
    }

    void cleanup() {
        pactl({QStringLiteral("set-default-sink"), kSpeakers});
        setMuted(kSpeakers, false);
        setMuted(kMicFeed, false);
    }

    void mutesAnUnmutedOutputAndRestoresIt() {
        MediaControlService service;
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        QVERIFY2(g_lines.contains(QStringLiteral("Muted system audio for dictation")),
                 qPrintable(g_lines.join('\n')));
        QVERIFY(g_lines.contains(QStringLiteral("Restored system audio after dictation")));
    }

    void leavesTheUsersMuteAlone() {
        setMuted(kSpeakers, true);
        MediaControlService service;
        service.muteIfNeeded();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
        QVERIFY(g_lines.contains(QStringLiteral("System audio already muted")));
        QVERIFY(!g_lines.contains(QStringLiteral("Restored system audio after dictation")));
    }

    void restoreWithoutMuteChangesNothing() {
        MediaControlService service;
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        setMuted(kSpeakers, true);
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
    }

    // A second mute must not take our own mute for the user's: the restore still unmutes.
    void aSecondMuteKeepsOurMute() {
        MediaControlService service;
        service.muteIfNeeded();
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        QVERIFY(!g_lines.contains(QStringLiteral("System audio already muted")));
        // And the next dictation works as the first one.
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
    }

    // The restore unmutes the sink it muted, even when the default output changed in between.
    void restoresTheSinkItMuted() {
        MediaControlService service;
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(kSpeakers), std::optional<bool>(true));
        QVERIFY(pactl({QStringLiteral("set-default-sink"), kMicFeed}).ok);
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(kSpeakers), std::optional<bool>(false));
        QCOMPARE(sinkMuted(kMicFeed), std::optional<bool>(false));
    }

    // Calls from other threads run in submission order on the service's own thread.
    void callsFromAnyThreadRunInOrder() {
        MediaControlService service;
        QThread* caller = QThread::create([&service] {
            service.muteIfNeeded();
            service.restoreMuteStateIfNeeded();
            service.muteIfNeeded();
        });
        caller->start();
        QVERIFY(caller->wait(20000));
        delete caller;
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
        service.restoreMuteStateIfNeeded();
        // The destructor waits for submitted work: the restore is not lost at exit.
    }

    void destructionRunsTheSubmittedRestore() {
        {
            MediaControlService service;
            service.muteIfNeeded();
            service.restoreMuteStateIfNeeded();
        }
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        QVERIFY(g_lines.contains(QStringLiteral("Restored system audio after dictation")));
    }

    // While the output is muted by the service, the exit guard holds its undo; the undo unmutes at once
    // on the calling thread, and a mute that comes later (queued before the exit, say) changes nothing.
    void theExitGuardUnmutesAndLaterMutesDoNothing() {
        DesktopStateGuard& guard = DesktopStateGuard::instance();
        MediaControlService service;
        QVERIFY(guard.held().isEmpty());
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(guard.held(), QStringList{QStringLiteral("output mute")});
        guard.undoWithoutDisplay();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        QVERIFY(guard.held().isEmpty());
    }

    // A restore done by the service itself drops the hold: the guard then leaves a later user mute alone.
    void anOrdinaryRestoreDropsTheHold() {
        MediaControlService service;
        service.muteIfNeeded();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
        setMuted(kSpeakers, true);
        DesktopStateGuard::instance().undoAll();
        QCOMPARE(sinkMuted(), std::optional<bool>(true));
    }

    // A service destroyed while its mute stands unmutes the output instead of leaving it muted for good.
    void destructionWhileMutedUnmutes() {
        {
            MediaControlService service;
            service.muteIfNeeded();
            service.flush();
            QCOMPARE(sinkMuted(), std::optional<bool>(true));
        }
        QCOMPARE(sinkMuted(), std::optional<bool>(false));
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestMediaControl, QApplication)
#include "tst_media_control.moc"
