// MediaControlService against the test session's PulseAudio: the other applications' playback streams
// (pacat processes) are muted for a dictation and unmuted afterwards, only those the service muted, on
// every way out: the restore, the exit guard, the destruction, and the next start after a crash (a child
// process killed while it has them muted). The output itself is never muted.

#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "DesktopStateGuard.h"
#include "MediaControlService.h"
#include "MutedStreamsRecord.h"
#include "TestDesktop.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

using namespace audiotest;

namespace {
const QString kSpeakers = QStringLiteral("speakers");
const QString kMicFeed = QStringLiteral("micfeed");

const std::optional<bool> kMuted(true);
const std::optional<bool> kUnmuted(false);

// The runtime log lines of the test, from the "runtime" logging category.
QStringList g_lines;
QtMessageHandler g_previous = nullptr;
void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category && QByteArray(context.category) == "runtime")
        g_lines << message;
    if (g_previous)
        g_previous(type, context, message);
}

int linesStartingWith(const QString& prefix) {
    return int(std::count_if(g_lines.begin(), g_lines.end(),
                             [&prefix](const QString& line) { return line.startsWith(prefix); }));
}

QString recordPath() {
    return MutedStreamsRecord().path();
}
} // namespace

class TestMediaControl : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime; // the private runtime folder of this test and its child, for the record

private slots:
    void initTestCase() {
        g_previous = qInstallMessageHandler(collect);
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        QCOMPARE(pactl({QStringLiteral("get-default-sink")}).output, kSpeakers);
        QVERIFY(recordPath().startsWith(m_runtime.path()));
    }

    void init() {
        QCOMPARE(sinkMuted(kSpeakers), kUnmuted);
        QVERIFY(!QFile::exists(recordPath()));
        g_lines.clear();
    }

    void cleanup() {
        // The output is never muted, whatever happened to the streams.
        QCOMPARE(sinkMuted(kSpeakers), kUnmuted);
        QCOMPARE(sinkMuted(kMicFeed), kUnmuted);
        QFile::remove(recordPath());
    }

    // Every other application's stream on the speakers is muted and unmuted; one playing into another sink
    // (here the one that feeds the microphone) is left alone. Meanwhile the record names the muted streams
    // in a file only we may read.
    void mutesOtherApplicationsAndRestoresThem() {
        OtherAppStream music(QStringLiteral("Music")), call(QStringLiteral("Call")),
            feed(QStringLiteral("Feed"));
        QVERIFY(music.start(kSpeakers));
        QVERIFY(call.start(kSpeakers));
        QVERIFY(feed.start(kMicFeed));
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(music.muted(), kMuted);
        QCOMPARE(call.muted(), kMuted);
        QCOMPARE(feed.muted(), kUnmuted);
        QCOMPARE(sinkMuted(kSpeakers), kUnmuted);
        QVERIFY2(g_lines.contains(QStringLiteral("Muted system audio for dictation: 2 playback streams "
                                                 "(Music, Call)")),
                 qPrintable(g_lines.join('\n')));
        struct stat record {};
        QCOMPARE(::stat(QFile::encodeName(recordPath()).constData(), &record), 0);
        QCOMPARE(record.st_mode & 07777, mode_t(0600));

        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(music.muted(), kUnmuted);
        QCOMPARE(call.muted(), kUnmuted);
        QCOMPARE(feed.muted(), kUnmuted);
        QVERIFY(!QFile::exists(recordPath()));
        QVERIFY2(g_lines.contains(QStringLiteral("Restored system audio after dictation: 2 playback streams "
                                                 "(Music, Call)")),
                 qPrintable(g_lines.join('\n')));
    }

    // A stream the user muted is left alone, before, during and after a dictation.
    void theUsersMuteStays() {
        OtherAppStream muted(QStringLiteral("Muted player")), playing(QStringLiteral("Player"));
        QVERIFY(muted.start());
        QVERIFY(playing.start());
        QVERIFY(muted.setMuted(true));
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.restoreMuteStateIfNeeded(); // nothing muted by us: nothing to do
        service.flush();
        QCOMPARE(muted.muted(), kMuted);
        QVERIFY(g_lines.isEmpty());

        service.muteIfNeeded();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(muted.muted(), kMuted);
        QCOMPARE(playing.muted(), kUnmuted);
        QVERIFY2(
            g_lines.contains(QStringLiteral("Muted system audio for dictation: 1 playback stream (Player); "
                                            "left alone, muted already: 1 playback stream (Muted player)")),
            qPrintable(g_lines.join('\n')));

        // Only muted streams play: the output counts as muted already.
        playing.stop();
        g_lines.clear();
        service.muteIfNeeded();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(muted.muted(), kMuted);
        QCOMPARE(g_lines, QStringList{"System audio already muted: 1 playback stream (Muted player)"});
    }

    // A second mute does not take our own mute for the user's: each stream is muted once and the restore
    // unmutes it; a stream that started in between is muted by the second call.
    void aSecondMuteKeepsOurMute() {
        OtherAppStream first(QStringLiteral("First")), second(QStringLiteral("Second"));
        QVERIFY(first.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.muteIfNeeded();
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(first.muted(), kMuted);
        QCOMPARE(linesStartingWith(QStringLiteral("Muted system audio")), 1);
        QVERIFY(second.start());
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(second.muted(), kMuted);
        QVERIFY(
            g_lines.contains(QStringLiteral("Muted system audio for dictation: 1 playback stream (Second)")));
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(first.muted(), kUnmuted);
        QCOMPARE(second.muted(), kUnmuted);
        QVERIFY(!g_lines.join('\n').contains(QStringLiteral("already muted")));
        // And the next dictation works as the first one.
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(first.muted(), kMuted);
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(first.muted(), kUnmuted);
    }

    // A stream that ended during the dictation is forgotten; the others are restored.
    void aStreamThatEndedIsForgotten() {
        OtherAppStream leaving(QStringLiteral("Leaving")), staying(QStringLiteral("Staying"));
        QVERIFY(leaving.start());
        QVERIFY(staying.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.muteIfNeeded();
        service.flush();
        leaving.stop();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(staying.muted(), kUnmuted);
        QVERIFY(!QFile::exists(recordPath()));
        QVERIFY2(g_lines.contains(QStringLiteral("Restored system audio after dictation: 1 playback stream "
                                                 "(Staying); ended meanwhile: 1 playback stream (Leaving)")),
                 qPrintable(g_lines.join('\n')));
        QVERIFY(!g_lines.join('\n').contains(QStringLiteral("Failed")));
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
    }

    // Calls from other threads run in submission order on the service's own thread.
    void callsFromAnyThreadRunInOrder() {
        OtherAppStream music;
        QVERIFY(music.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        QThread* caller = QThread::create([&service] {
            service.muteIfNeeded();
            service.restoreMuteStateIfNeeded();
            service.muteIfNeeded();
        });
        caller->start();
        QVERIFY(caller->wait(20000));
        delete caller;
        service.flush();
        QCOMPARE(music.muted(), kMuted);
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(music.muted(), kUnmuted);
    }

    // Whether the restore was submitted or not, a service that goes leaves nothing muted and no hold.
    void destructionLeavesNothingMuted_data() {
        QTest::addColumn<bool>("restoreSubmitted");
        QTest::newRow("restore submitted") << true;
        QTest::newRow("still muted") << false;
    }

    void destructionLeavesNothingMuted() {
        QFETCH(bool, restoreSubmitted);
        OtherAppStream music;
        QVERIFY(music.start());
        {
            MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
            service.muteIfNeeded();
            if (restoreSubmitted) {
                // Mute and restore are both queued: where the worker is in them when the service goes is
                // not known, which is the point of this case.
                service.restoreMuteStateIfNeeded();
            } else {
                service.flush();
                QCOMPARE(music.muted(), kMuted);
            }
        }
        QCOMPARE(music.muted(), kUnmuted);
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
        QVERIFY(!QFile::exists(recordPath()));
    }

    // While streams are muted by the service, the exit guard holds its undo; the undo unmutes at once on
    // the calling thread, and a mute that comes later (queued before the exit, say) changes nothing.
    void theExitGuardUnmutesAndLaterMutesDoNothing() {
        DesktopStateGuard& guard = DesktopStateGuard::instance();
        OtherAppStream music;
        QVERIFY(music.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        QVERIFY(guard.held().isEmpty());
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(guard.held(), QStringList{QStringLiteral("output mute")});
        guard.undoWithoutDisplay();
        QCOMPARE(music.muted(), kUnmuted);
        QVERIFY(!QFile::exists(recordPath()));
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(music.muted(), kUnmuted);
        QVERIFY(guard.held().isEmpty());
    }

    void restoreForExitUnmutes() {
        OtherAppStream music;
        QVERIFY(music.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(music.muted(), kMuted);
        service.restoreForExit();
        QCOMPARE(music.muted(), kUnmuted);
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
    }

    // A restore done by the service itself drops the hold: the guard then leaves a later user mute alone.
    void anOrdinaryRestoreDropsTheHold() {
        OtherAppStream music;
        QVERIFY(music.start());
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.muteIfNeeded();
        service.restoreMuteStateIfNeeded();
        service.flush();
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());
        QVERIFY(music.setMuted(true));
        DesktopStateGuard::instance().undoAll();
        QCOMPARE(music.muted(), kMuted);
    }

    // A run that dies with streams muted: while it runs its record is left alone; once it is dead, the
    // next start unmutes what it muted and still plays, leaves the user's mute alone, and forgets the
    // rest.
    void theNextStartRestoresWhatACrashedRunMuted() {
        OtherAppStream music(QStringLiteral("Music")), leaving(QStringLiteral("Leaving")),
            usersMute(QStringLiteral("Quiet"));
        QVERIFY(music.start());
        QVERIFY(leaving.start());
        QVERIFY(usersMute.start());
        QVERIFY(usersMute.setMuted(true));

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(MUTE_CHILD_PATH), QStringList{});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&child] { return child.canReadLine(); }, 20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("muted"));
        QCOMPARE(music.muted(), kMuted);
        QCOMPARE(leaving.muted(), kMuted);
        QVERIFY(QFile::exists(recordPath()));

        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.restoreLeftoverMutes(); // the child still runs: not ours to restore
        service.flush();
        QCOMPARE(music.muted(), kMuted);
        QVERIFY(QFile::exists(recordPath()));

        QCOMPARE(::kill(pid_t(child.processId()), SIGKILL), 0);
        QVERIFY(child.waitForFinished(10000));
        leaving.stop();
        QCOMPARE(music.muted(), kMuted);

        service.restoreLeftoverMutes();
        service.flush();
        QCOMPARE(music.muted(), kUnmuted);
        QCOMPARE(usersMute.muted(), kMuted);
        QVERIFY(!QFile::exists(recordPath()));
        QVERIFY2(g_lines.contains(QStringLiteral("Restored system audio left muted by an earlier run: "
                                                 "1 playback stream (Music); ended meanwhile: 1 playback "
                                                 "stream (Leaving)")),
                 qPrintable(g_lines.join('\n')));
        QVERIFY(DesktopStateGuard::instance().held().isEmpty());

        // Nothing left: a further start does nothing.
        g_lines.clear();
        service.restoreLeftoverMutes();
        service.flush();
        QVERIFY(g_lines.isEmpty());
    }

    // A record that cannot be read is logged and deleted; nothing is touched.
    void anUnreadableRecordIsIgnored() {
        OtherAppStream music;
        QVERIFY(music.start());
        QVERIFY(music.setMuted(true));
        QFile record(recordPath());
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write("{\"writer\": {\"pid\": 1, \"started\": 0}, \"streams\": [{\"index\": ");
        record.close();
        MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        service.restoreLeftoverMutes();
        service.flush();
        QCOMPARE(music.muted(), kMuted);
        QVERIFY(!QFile::exists(recordPath()));
        QCOMPARE(linesStartingWith(QStringLiteral("Ignoring an unreadable record of muted streams: ")), 1);
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestMediaControl, QApplication)
#include "tst_media_control.moc"
