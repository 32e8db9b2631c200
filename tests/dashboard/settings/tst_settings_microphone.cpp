// The settings page's microphone picker on the test session's PulseAudio: a microphone that disappears
// between the listing and the pick is reported under the picker and logged, and the stored choice stays.

#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "DashboardRig.h"
#include "RuntimeLogCapture.h"
#include "SettingsPage.h"
#include "TestDesktop.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>

using namespace audiotest;

class SettingsMicrophoneTest : public QObject {
    Q_OBJECT

private slots:
    void vanishedMicrophoneIsReported() {
        const QString source = QStringLiteral("quillvane_settings_vanishing_mic");
        const CommandResult loaded =
            pactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                   QStringLiteral("source_name=") + source, QStringLiteral("description=Vanishing_microphone")});
        QVERIFY2(loaded.ok, qPrintable(loaded.errors));
        auto unload = qScopeGuard([&] { pactl({QStringLiteral("unload-module"), loaded.output}); });

        DashboardRig rig;
        // The real sound server.
        AudioInputDeviceStore microphones(testDesktop(PlatformServices::PulseAudio).audioInputs);
        DashboardServices services{rig.auth,        rig.session,       rig.appSettings, rig.promptSettings,
                                   rig.history,     rig.knowledgeBase, rig.notes,       rig.dictation.coordinator,
                                   rig.permissions, microphones,       rig.account,     [] {},
                                   {},              std::nullopt};
        rig.appSettings.setSelectedInputDeviceUID(QStringLiteral("virtualmic"));
        microphones.refresh(rig.appSettings.selectedInputDeviceUID());
        DashboardState state;
        SettingsPage page(state, services);
        page.resize(900, 900);
        page.show();
        auto* picker = page.findChild<QComboBox*>(QStringLiteral("microphonePicker"));
        const int vanishing = picker->findData(source);
        QVERIFY2(vanishing > 0, "the new source is listed");
        QCOMPARE(picker->currentData().toString(), QStringLiteral("virtualmic"));

        unload.dismiss();
        QVERIFY(pactl({QStringLiteral("unload-module"), loaded.output}).ok);
        RuntimeLogCapture log;
        emit picker->activated(vanishing);

        auto* error = page.findChild<QLabel*>(QStringLiteral("microphoneError"));
        QCOMPARE(error->text(), QStringLiteral("Unable to find the selected microphone."));
        QVERIFY(error->isVisible());
        QCOMPARE(log.entries(),
                 QStringList{"ERROR Microphone switch failed: Unable to find the selected microphone."});
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(), std::optional<QString>(QStringLiteral("virtualmic")));
        QCOMPARE(pactl({QStringLiteral("get-default-source")}).output, QStringLiteral("virtualmic"));
    }
};

QUILLVANE_AUDIO_TEST_MAIN(SettingsMicrophoneTest, QApplication)
#include "tst_settings_microphone.moc"
