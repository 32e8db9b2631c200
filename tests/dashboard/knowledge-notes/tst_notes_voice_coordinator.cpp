// The notes page on the real dictation coordinator (its services faked): the voice-note button follows
// the coordinator and its recorder, and a press starts or stops a note recording.
#include "DashboardRig.h"
#include "NotesPage.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestNotesVoiceCoordinator : public QObject {
    Q_OBJECT

private slots:
    void recordAndStopThroughTheCoordinator() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        rig.view->show();
        auto* page = view.findChild<NotesPage*>();
        QVERIFY(page);
        auto* button = page->findChild<QPushButton*>(QStringLiteral("voiceNoteButton"));
        auto* summary = page->findChild<QLabel*>(QStringLiteral("recordingSummary"));

        // Without a session the coordinator refuses; its summary shows under the buttons.
        rig.dictation.session.token.reset();
        button->click();
        QTRY_VERIFY(rig.dictation.coordinator.upgradePrompt().has_value());
        QCOMPARE(summary->text(),
                 QStringLiteral("Sign in from the bottom-left corner of the app to start dictating."));
        QCOMPARE(rig.dictation.recorder.startCalls, 0);

        rig.dictation.session.token = QStringLiteral("session-token");
        button->click();
        QTRY_COMPARE(button->text(), QStringLiteral("Stop Voice Note"));
        QCOMPARE(rig.dictation.coordinator.activeMode(), RecordingMode::Note);
        button->click();
        QTRY_COMPARE(rig.dictation.recorder.stopCalls, 1);
        QTRY_COMPARE(button->text(), QStringLiteral("Record Voice Note"));
    }
};

QTEST_MAIN(TestNotesVoiceCoordinator)
#include "tst_notes_voice_coordinator.moc"
