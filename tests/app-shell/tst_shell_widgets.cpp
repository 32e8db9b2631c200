// The shell's widgets on the offscreen platform: the Apple sign-in button, the onboarding dialog's states,
// the tray panel's lines and its start from the tray, and the version line.

#include "AppSettings.h"
#include "AppUpdater.h"
#include "AppleSignInButton.h"
#include "AuthStore.h"
#include "DictationFakes.h"
#include "PermissionsOnboardingDialog.h"
#include "TrayPanel.h"
#include "UserDefaults.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using State = PermissionsCoordinator::PermissionState;
using Kind = PermissionsCoordinator::PermissionKind;

namespace {

struct Defaults {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath("settings.json")};
};

PermissionsCoordinator::Platform permissions(State* microphone, bool* trusted, int* launches) {
    PermissionsCoordinator::Platform platform;
    platform.microphoneState = [microphone] { return *microphone; };
    platform.accessibilityTrusted = [trusted] { return *trusted; };
    platform.findProgram = [](const QString& program) { return "/usr/bin/" + program; };
    platform.launch = [launches](const QString&, const QStringList&) {
        ++*launches;
        return true;
    };
    return platform;
}

template <class T> T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        qFatal("no child %s", name);
    }
    return found;
}

} // namespace

class TestShellWidgets : public QObject {
    Q_OBJECT

private slots:
    void appleButton_data() {
        QTest::addColumn<bool>("compact");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("glyph");
        QTest::newRow("compact") << true << 34 << 14;
        QTest::newRow("regular") << false << 36 << 15;
    }
    void appleButton() {
        QFETCH(bool, compact);
        QFETCH(int, height);
        QFETCH(int, glyph);
        Defaults d;
        AuthStore auth(d.defaults);
        AppleSignInButton button(auth, compact);
        QCOMPARE(button.height(), height);
        QCOMPARE(button.iconSize(), QSize(glyph, glyph));
        QCOMPARE(button.text(), AppleSignInButton::kSignInText);
        QCOMPARE(button.opacity(), 1.0);

        auth.beginAuth("Google"); // any provider's attempt counts
        QCOMPARE(button.text(), AppleSignInButton::kRetryText);
        QCOMPARE(button.opacity(), AppleSignInButton::kBusyOpacity);
        QVERIFY(button.isEnabled());
        int presses = 0;
        connect(&button, &QPushButton::clicked, [&] { ++presses; });
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(presses, 1);

        auth.fail("Sign-in was cancelled.");
        QCOMPARE(button.text(), AppleSignInButton::kSignInText);
        QCOMPARE(button.opacity(), 1.0);
    }

    void onboarding_rows_data() {
        QTest::addColumn<int>("microphone");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("expect"); // badge, icon, button per row (mic, then accessibility)
        QTest::newRow("both ready") << int(State::Granted) << true << ""
                                    << QStringList{"Ready", "checkmark.circle.fill", "",
                                                   "Ready", "checkmark.circle.fill", ""};
        QTest::newRow("no microphone") << int(State::ReviewInSettings) << true << ""
                                       << QStringList{"Check in Settings",     "gearshape.circle.fill",
                                                      "Open Settings",         "Ready",
                                                      "checkmark.circle.fill", ""};
        QTest::newRow("no usable display")
            << int(State::Granted) << false << "No X display is set (DISPLAY is empty)."
            << QStringList{"Ready",       "checkmark.circle.fill",         "",
                           "Unavailable", "exclamationmark.triangle.fill", "Check Again"};
    }
    void onboarding_rows() {
        QFETCH(int, microphone);
        QFETCH(bool, trusted);
        QFETCH(QString, reason);
        QFETCH(QStringList, expect);
        State mic = State(microphone);
        int launches = 0;
        PermissionsCoordinator coordinator(permissions(&mic, &trusted, &launches));
        coordinator.refresh();
        PermissionsOnboardingDialog dialog(coordinator, [reason] { return reason; });
        coordinator.setShowOnboarding(true);
        QVERIFY(dialog.isVisible());
        const char* names[] = {"microphone", "accessibility"};
        for (int row = 0; row < 2; ++row) {
            const QString name = QString::fromLatin1(names[row]);
            QCOMPARE(dialog.findChild<QLabel*>(name + "Badge")->text(), expect[row * 3]);
            QCOMPARE(dialog.findChild<QLabel*>(name + "Icon")->property("symbol").toString(),
                     expect[row * 3 + 1]);
            auto* button = dialog.findChild<QPushButton*>(name + "Button");
            QCOMPARE(button->isVisible(), !expect[row * 3 + 2].isEmpty());
            if (button->isVisible()) {
                QCOMPARE(button->text(), expect[row * 3 + 2]);
            }
        }
        if (!trusted) {
            QCOMPARE(dialog.findChild<QLabel*>("accessibilityDescription")->text(), reason);
        }
        if (mic == State::ReviewInSettings) {
            QTest::mouseClick(dialog.findChild<QPushButton*>("microphoneButton"), Qt::LeftButton);
            QCOMPARE(launches, 1); // the desktop's sound settings
        }
    }

    void onboarding_closing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("continue for now") << "continueButton";
        QTest::newRow("done") << "doneButton";
        QTest::newRow("escape") << "escape";
        QTest::newRow("refresh finds everything granted") << "refreshButton";
    }
    void onboarding_closing() {
        QFETCH(QString, how);
        State mic = State::ReviewInSettings;
        bool trusted = true;
        int launches = 0;
        PermissionsCoordinator coordinator(permissions(&mic, &trusted, &launches));
        coordinator.refresh();
        PermissionsOnboardingDialog dialog(coordinator, [] { return QString(); });
        coordinator.setShowOnboarding(true);
        QVERIFY(dialog.isVisible());
        mic = State::Granted; // only a refresh sees it
        if (how == "escape") {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else {
            QTest::mouseClick(dialog.findChild<QPushButton*>(how), Qt::LeftButton);
        }
        QVERIFY(!coordinator.showOnboarding());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(coordinator.microphone(), how == "refreshButton" ? State::Granted : State::ReviewInSettings);
        coordinator.setShowOnboarding(true); // comes back when the flag is raised again
        QVERIFY(dialog.isVisible());
    }

    void trayPanel_lines_data() {
        QTest::addColumn<bool>("smartEdit");
        QTest::addColumn<bool>("vdi");
        QTest::addColumn<std::optional<QString>>("transcript");
        QTest::addColumn<bool>("updater");
        QTest::addColumn<QStringList>("prefixes");
        QTest::addColumn<bool>("transcriptShown");
        QTest::addColumn<QStringList>("actions");
        const QStringList three{"Start Recording", "Settings", "Quit"};
        QTest::newRow("extras off, no transcript, no updater")
            << false << false << std::optional<QString>() << false << QStringList{"Dictation: "} << false
            << three;
        QTest::newRow("empty transcript: no divider")
            << false << true << std::optional<QString>("") << false
            << QStringList{"Dictation: ", "Typing Mode: "} << false << three;
        QTest::newRow("all lines and the update item")
            << true << true << std::optional<QString>("hello there") << true
            << QStringList{"Dictation: ", "AI Mode: ", "Typing Mode: "} << true
            << QStringList{"Start Recording", "Settings", "Check for Updates…", "Quit"};
    }
    void trayPanel_lines() {
        QFETCH(bool, smartEdit);
        QFETCH(bool, vdi);
        QFETCH(std::optional<QString>, transcript);
        QFETCH(bool, updater);
        QFETCH(QStringList, prefixes);
        QFETCH(bool, transcriptShown);
        QFETCH(QStringList, actions);
        fakes::Harness h;
        Defaults d;
        AppSettings settings(d.defaults);
        AppUpdater configured({updater ? "http://127.0.0.1:1/feed" : "", "key", 1});
        TrayPanel panel(h.coordinator, settings, &configured);
        panel.show();
        h.coordinator.setLastTranscript(transcript);
        settings.setSmartEditHotkeyEnabled(smartEdit);
        settings.setVdiHotkeyEnabled(vdi);

        const QStringList lines = panel.shortcutLines();
        QCOMPARE(lines.size(), prefixes.size());
        QCOMPARE(lines[0], "Dictation: " + settings.hotkey().displayString());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].startsWith(prefixes[i]), qPrintable(lines[i]));
            QCOMPARE(panel.findChild<QLabel*>(QStringLiteral("shortcutLine%1").arg(i))->text(), lines[i]);
        }
        QVERIFY(!panel.findChild<QLabel*>(QStringLiteral("shortcutLine%1").arg(lines.size())) ||
                !panel.findChild<QLabel*>(QStringLiteral("shortcutLine%1").arg(lines.size()))->isVisible());
        QCOMPARE(child<QFrame>(panel, "transcriptDivider")->isVisible(), transcriptShown);
        QCOMPARE(child<QLabel>(panel, "transcriptLines")->isVisible(), transcriptShown);
        QCOMPARE(panel.actionTitles(), actions);
        h.coordinator.setStatusText("Processing your recording…");
        QCOMPARE(child<QLabel>(panel, "statusLine")->text(), "Processing your recording…");
        QCOMPARE(child<QLabel>(panel, "recordingState")->text(), "Idle");
        QCOMPARE(panel.width(), TrayPanel::kWidth);
    }

    void trayPanel_longTranscriptShowsFourLines() {
        fakes::Harness h;
        Defaults d;
        AppSettings settings(d.defaults);
        TrayPanel panel(h.coordinator, settings, nullptr);
        QStringList words;
        for (int i = 0; i < 200; ++i) {
            words << QStringLiteral("word%1").arg(i);
        }
        h.coordinator.setLastTranscript(words.join(' ')); // while hidden: caught up when shown
        panel.show();
        const QString shown = child<QLabel>(panel, "transcriptLines")->text();
        QCOMPARE(shown.count('\n'), 3);
        QVERIFY(shown.startsWith("word0 word1"));
        QVERIFY(shown.endsWith(QStringLiteral("…")));
    }

    // Start Recording hides the panel and waits until the focus is back with the user's window.
    void trayPanel_startWaitsForFocusToLeave() {
        fakes::Harness h;
        Defaults d;
        AppSettings settings(d.defaults);
        TrayPanel panel(h.coordinator, settings, nullptr);
        int polls = 0;
        bool ourFocus = true;
        panel.setFocusProbe([&] {
            ++polls;
            return ourFocus;
        });
        panel.show();
        QTest::mouseClick(child<QPushButton>(panel, "recordButton"), Qt::LeftButton);
        QVERIFY(!panel.isVisible());
        QCOMPARE(h.recorder.startCalls, 0);
        h.time.scheduler.advance(std::chrono::milliseconds(100));
        QCOMPARE(h.recorder.startCalls, 0);
        ourFocus = false;
        h.time.scheduler.advance(TrayPanel::kFocusPoll);
        QCOMPARE(h.recorder.startCalls, 1);
        QVERIFY(h.recorder.isRecording());
        panel.sync();
        QCOMPARE(child<QPushButton>(panel, "recordButton")->text(), "Stop Recording");
        QCOMPARE(child<QLabel>(panel, "recordingState")->text(), "Recording");
        const int pollsBefore = polls;
        QTest::mouseClick(child<QPushButton>(panel, "recordButton"), Qt::LeftButton);
        QCOMPARE(h.recorder.stopCalls, 1); // a stop does not wait
        QCOMPARE(polls, pollsBefore);
    }

    void trayPanel_startGivesUpWaitingAfterASecond() {
        fakes::Harness h;
        Defaults d;
        AppSettings settings(d.defaults);
        TrayPanel panel(h.coordinator, settings, nullptr);
        panel.setFocusProbe([] { return true; });
        panel.toggleRecording();
        h.time.scheduler.advance(TrayPanel::kFocusWait - TrayPanel::kFocusPoll);
        QCOMPARE(h.recorder.startCalls, 0);
        h.time.scheduler.advance(TrayPanel::kFocusPoll);
        QCOMPARE(h.recorder.startCalls, 1);
    }

    void appVersionDisplay_showsVersionAndBuild() {
        QVERIFY(TrayPanel::appVersionDisplay().contains(QRegularExpression("^Version \\S+ \\(\\d+\\)$")));
    }
};

QTEST_MAIN(TestShellWidgets)
#include "tst_shell_widgets.moc"
