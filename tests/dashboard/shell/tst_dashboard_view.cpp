// The dashboard window on real stores: navigation, presentations, reset, the sidebar and its account card,
// the home page's figures, banner and history.

#include "DashboardRig.h"

#include "DashboardLook.h"
#include "DashboardSidebar.h"
#include "DashboardState.h"
#include "DisplayText.h"
#include "ElidedLabel.h"
#include "FitToWidth.h"
#include "HomePage.h"
#include "PresentationHost.h"
#include "RuntimeLogCapture.h"
#include "StorageNotices.h"

#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QSignalSpy>
#include <QTest>

namespace {
void dictate(fakes::Harness& h) {
    h.shortcuts.press();
    h.runScheduled();
    h.shortcuts.release();
}

QString labelText(const DashboardRig& rig, const QString& name) {
    QLabel* label = rig.find<QLabel>(name);
    return label ? label->text() : QStringLiteral("<missing %1>").arg(name);
}

bool shown(const DashboardRig& rig, const QString& name) {
    QWidget* widget = rig.find<QWidget>(name);
    return widget && widget->isVisibleTo(rig.view.get());
}

QStringList visibleTexts(QWidget* root, const QString& name) {
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>(name)) {
        if (label->isVisibleTo(root)) {
            texts << label->text();
        }
    }
    return texts;
}

// The smallest the view gets inside the window.
QSize minimumViewSize() {
    return DashboardView::kMinimumSize;
}

void click(QWidget* widget, QPoint at = {-1, -1}) {
    QVERIFY(widget);
    QTest::mouseClick(widget, Qt::LeftButton, {}, at == QPoint(-1, -1) ? widget->rect().center() : at);
}
} // namespace

class TestDashboardView : public QObject {
    Q_OBJECT

private slots:
    // ---- Frame and navigation
    // ------------------------------------------------------------------------------

    void rowsSelectSectionsAcrossTheirWholeBand() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        QCOMPARE(view.state().selectedSection(), AppSection::Home);
        QCOMPARE(view.currentPage(), view.homePage());

        auto* settingsRow = rig.find<NavRow>(QStringLiteral("navRow_settings"));
        // Far right of the title, in the empty part of the row.
        click(settingsRow, QPoint(settingsRow->width() - 3, 3));
        QCOMPARE(view.state().selectedSection(), AppSection::Settings);
        QCOMPARE(view.currentPage()->objectName(), QStringLiteral("settingsPage"));
        int selected = 0;
        for (NavRow* row : view.findChildren<NavRow*>()) {
            selected += row->isSelected();
            QCOMPARE(row->foregroundColor(), row->isSelected() ? DashboardPalette::sidebarPrimaryText()
                                                               : DashboardPalette::sidebarSecondaryText());
        }
        QCOMPARE(selected, 1);
        QVERIFY(settingsRow->isSelected());

        view.state().setSelectedSection(std::nullopt);
        QCOMPARE(view.currentPage(), view.homePage());
        for (NavRow* row : view.findChildren<NavRow*>()) {
            QVERIFY(!row->isSelected());
        }
    }

    void openSettingsSelectsSettingsOnce() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.state().setSelectedSection(AppSection::Dictionary);
        QSignalSpy changes(&view.state(), &DashboardState::selectedSectionChanged);
        view.openSettings();
        view.openSettings();
        QCOMPARE(view.state().selectedSection(), AppSection::Settings);
        QCOMPARE(changes.count(), 1);
    }

    void initialStateMatchesAFreshWindow() {
        DashboardRig rig;
        DashboardState& state = rig.makeView().state();
        QCOMPARE(state.tutorialsStatusText(), QStringLiteral("Loading tutorials..."));
        QCOMPARE(state.hotkeyStatusText(), QStringLiteral("Click Change, then press a new global shortcut."));
        QVERIFY(!state.captureIntent() && !state.hoveredHistoryID() && !state.activeSettingsHelpID());
        QVERIFY(!state.showResetConfirmation() && !state.showDictionaryEditor() &&
                !state.showSnippetEditor());
        QVERIFY(state.customPromptDraft().isEmpty() && state.tutorials().isEmpty());
    }

    void launchAtLoginRefreshedOnEveryShow() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        QVERIFY(!rig.log.calls.contains(QStringLiteral("refreshLaunchAtLogin")));
        view.show();
        view.hide();
        view.show();
        QCOMPARE(rig.log.calls.count(QStringLiteral("refreshLaunchAtLogin")), 2);
    }

    void darkDesktopThemeKeepsTheLightLook() {
        const QPalette previous = QApplication::palette();
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(20, 20, 20));
        dark.setColor(QPalette::Text, Qt::white);
        QApplication::setPalette(dark);
        {
            DashboardRig rig;
            DashboardView& view = rig.makeView();
            view.show();
            QCOMPARE(view.palette().color(QPalette::Window), DashboardPalette::shellBackground());
            QCOMPARE(view.homePage()->palette().color(QPalette::Base), QColor(Qt::white));
            QCOMPARE(rig.find<QLabel>(QStringLiteral("homeTitle"))->palette().color(QPalette::WindowText),
                     DashboardPalette::titleColor());
            const QImage image = view.grab().toImage();
            const QWidget* canvas = rig.find<QWidget>(QStringLiteral("detailPanel"));
            const QPoint inside = canvas->mapTo(&view, QPoint(canvas->width() / 2, canvas->height() - 6));
            QVERIFY2(qGray(image.pixel(inside * image.devicePixelRatio())) > 230, "the canvas is light");
            // A sheet built later, apart from the window, takes the same light palette.
            view.state().setShowResetConfirmation(true);
            QWidget* sheet = rig.find<QWidget>(QStringLiteral("resetConfirmation"));
            QVERIFY(sheet);
            QCOMPARE(sheet->palette().color(QPalette::Base), QColor(Qt::white));
            QCOMPARE(sheet->palette().color(QPalette::WindowText), DashboardPalette::titleColor());
        }
        QApplication::setPalette(previous);
    }

    // ---- Look ---------------------------------------------------------------------------------------------

    // Every page opens with the one page header and lies straight on the rounded canvas: no page paints a
    // panel of its own behind its content.
    void pagesShareTheHeaderAndTheCanvas_data() {
        QTest::addColumn<int>("section");
        for (const AppSection section : AppSections::all()) {
            QTest::newRow(qPrintable(AppSections::toRaw(section))) << int(section);
        }
    }
    void pagesShareTheHeaderAndTheCanvas() {
        QFETCH(int, section);
        DashboardRig rig;
        DashboardView& view = rig.makeView({960, 640});
        view.state().setSelectedSection(AppSection(section));
        view.show();
        QApplication::processEvents();
        QWidget* page = view.currentPage();
        const QList<PageHeader*> headers = page->findChildren<PageHeader*>();
        QCOMPARE(headers.size(), 1);
        const QFont expected = DashboardFonts::rounded(28, QFont::Bold);
        const QFont title = headers.first()->titleLabel()->font();
        QCOMPARE(title.families(), expected.families());
        QCOMPARE(title.pixelSize(), expected.pixelSize());
        QCOMPARE(title.weight(), expected.weight());

        const QImage image = view.grab().toImage();
        const auto colourAt = [&](const QWidget* widget, QPoint at) {
            return image.pixelColor(widget->mapTo(&view, at) * image.devicePixelRatio());
        };
        const QWidget* panel = rig.find<QWidget>(QStringLiteral("detailPanel"));
        // The panel's own top padding, and the page's top-left corner just below it.
        QCOMPARE(colourAt(page, QPoint(4, 4)), colourAt(panel, QPoint(panel->width() / 2, 8)));
    }

    // The page's scroll handle stands out from the canvas it moves over.
    void scrollHandleShowsOnTheCanvas() {
        DashboardRig rig;
        for (int i = 0; i < 12; ++i) {
            rig.history.addEntry(QStringLiteral("Entry %1 with enough words to take a line.").arg(i),
                                 QStringLiteral("Tidewell"), QString(), 2.0);
        }
        DashboardView& view = rig.makeView(minimumViewSize());
        view.show();
        QApplication::processEvents();
        auto* area =
            qobject_cast<QScrollArea*>(rig.find<QStackedWidget>(QStringLiteral("pages"))->currentWidget());
        QVERIFY(area);
        QScrollBar* bar = area->verticalScrollBar();
        QVERIFY(bar->isVisible());
        const QImage image = view.grab().toImage();
        const QRect track(bar->mapTo(&view, QPoint(0, 0)), bar->size());
        int darkest = 255;
        for (int y = track.top(); y <= track.bottom(); ++y) {
            for (int x = track.left(); x <= track.right(); ++x) {
                darkest = std::min(darkest, qGray(image.pixel(QPoint(x, y) * image.devicePixelRatio())));
            }
        }
        const int canvas = qGray(DashboardPalette::contentCanvas().rgb());
        QVERIFY2(darkest < canvas - 40,
                 qPrintable(QStringLiteral("darkest %1 on %2").arg(darkest).arg(canvas)));
    }

    // Destructive actions are drawn in red wherever they are: the filled "Reset" buttons and the
    // bordered "Delete" of the notes page.
    void destructiveActionsAreRed() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        view.state().setSelectedSection(AppSection::Settings);
        QCOMPARE(rig.find<DashboardPrimaryButton>(QStringLiteral("resetSettingsButton"))->fillColor().rgb(),
                 DashboardPalette::destructiveColor().rgb());
        view.state().setShowResetConfirmation(true);
        QCOMPARE(rig.find<DashboardPrimaryButton>(QStringLiteral("resetConfirmButton"))->fillColor().rgb(),
                 DashboardPalette::destructiveColor().rgb());
        view.state().setShowResetConfirmation(false);
        view.state().setSelectedSection(AppSection::Notes);
        auto* remove = rig.find<QPushButton>(QStringLiteral("deleteNoteButton"));
        remove->ensurePolished();
        QCOMPARE(remove->palette().color(QPalette::Active, remove->foregroundRole()),
                 DashboardPalette::destructiveColor());
    }

    // A painted button shows its ring when the keyboard brings the focus to it, not when a click does.
    void focusRingComesWithTheKeyboard_data() {
        QTest::addColumn<int>("section");
        QTest::addColumn<QString>("name");
        QTest::newRow("section row") << int(AppSection::Home) << "navRow_notes";
        QTest::newRow("sign-in button") << int(AppSection::Home) << "googleSignInButton";
        QTest::newRow("copy button") << int(AppSection::Home) << "historyCopyButton";
        QTest::newRow("primary button") << int(AppSection::Settings) << "resetSettingsButton";
        QTest::newRow("switch") << int(AppSection::Settings) << "toggleModeSwitch";
        QTest::newRow("model card") << int(AppSection::Settings) << "tidewell";
        QTest::newRow("secondary button") << int(AppSection::Tutorials) << "tutorialsReloadButton";
    }
    void focusRingComesWithTheKeyboard() {
        QFETCH(int, section);
        QFETCH(QString, name);
        DashboardRig rig;
        rig.history.addEntry(QStringLiteral("One entry."), QStringLiteral("Tidewell"), QString(), 1.0);
        DashboardView& view = rig.makeView();
        view.state().setSelectedSection(AppSection(section));
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto* button = rig.find<QWidget>(name);
        QVERIFY(button);
        const QImage plain = button->grab().toImage();

        button->setFocus(Qt::MouseFocusReason);
        QVERIFY(button->hasFocus());
        QVERIFY(!DashboardLook::showsFocusRing(button));
        QCOMPARE(button->grab().toImage(), plain);

        button->clearFocus();
        for (int i = 0; i < 200 && !button->hasFocus(); ++i) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &view, Qt::Key_Tab);
        }
        QVERIFY(button->hasFocus());
        QVERIFY(DashboardLook::showsFocusRing(button));
        QVERIFY(button->grab().toImage() != plain);
    }

    // ---- Presentations ------------------------------------------------------------------------------------

    // The global shortcuts let go while the capture sheet is the one shown, not while it waits, and come
    // back when it closes or the view goes.
    void shortcutsSuspendedWhileCaptureShows() {
        DashboardRig rig;
        QList<bool> calls;
        rig.services.suspendGlobalShortcuts = [&calls](bool suspended) { calls << suspended; };
        DashboardView& view = rig.makeView();
        view.state().setShowResetConfirmation(true);
        view.state().setCaptureIntent(DashboardHotkeyCaptureIntent::Vdi);
        QVERIFY(calls.isEmpty());
        view.state().setShowResetConfirmation(false);
        QCOMPARE(calls, QList<bool>{true});
        view.state().setCaptureIntent(std::nullopt);
        QCOMPARE(calls, (QList<bool>{true, false}));
        view.state().setCaptureIntent(DashboardHotkeyCaptureIntent::Dictation);
        rig.view.reset();
        QCOMPARE(calls, (QList<bool>{true, false, true, false}));
    }

    // The prompt editor takes the typing when it opens; Escape closes it like Cancel, keeping the draft.
    void promptEditorTakesTheTyping() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.state().setCustomPromptDraft(QString());
        view.state().setShowCustomPromptEditor(true);
        auto* editor = rig.find<QPlainTextEdit>(QStringLiteral("customPromptEditor"));
        QVERIFY(editor);
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Be brief."));
        QCOMPARE(view.state().customPromptDraft(), QStringLiteral("Be brief."));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!view.state().showCustomPromptEditor());
        QCOMPARE(view.state().customPromptDraft(), QStringLiteral("Be brief."));
        QCOMPARE(rig.promptSettings.settings().customPrompt, PromptSettings{}.customPrompt);
    }

    void oneAtATimeTheRestQueued() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        PresentationHost& host = view.presentations();
        QVERIFY(host.currentKey().isEmpty());

        view.state().setShowResetConfirmation(true);
        rig.publishPrompt();
        view.state().setCaptureIntent(DashboardHotkeyCaptureIntent::SmartEdit);
        rig.permissions.setShowOnboarding(true);
        QCOMPARE(host.currentKey(), DashboardView::kResetPresentation);
        QCOMPARE(host.queuedKeys(),
                 (QStringList{DashboardView::kSignInPromptPresentation, DashboardView::kCapturePresentation,
                              DashboardView::kOnboardingPresentation}));

        click(rig.find<QPushButton>(QStringLiteral("resetCancelButton")));
        QVERIFY(!view.state().showResetConfirmation());
        QCOMPARE(host.currentKey(), DashboardView::kSignInPromptPresentation);

        // A waiting presentation withdrawn by its owner leaves the queue without being shown.
        view.state().setCaptureIntent(std::nullopt);
        QCOMPARE(host.queuedKeys(), QStringList{DashboardView::kOnboardingPresentation});

        QTest::keyClick(&host, Qt::Key_Escape);
        QVERIFY(!rig.dictation.coordinator.upgradePrompt());
        QCOMPARE(host.currentKey(), DashboardView::kOnboardingPresentation);
        click(rig.find<QPushButton>(QStringLiteral("placeholderCloseButton")));
        QVERIFY(!rig.permissions.showOnboarding());
        QVERIFY(host.currentKey().isEmpty());
        QVERIFY(!host.isVisible());
    }

    void promptClosesThreeWays_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("close symbol") << "close";
        QTest::newRow("Got It") << "gotIt";
        QTest::newRow("Escape") << "escape";
    }
    void promptClosesThreeWays() {
        QFETCH(QString, how);
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        rig.dictation.session.token.reset();
        runTaskOnce(rig);
        DictationCoordinator& coordinator = rig.dictation.coordinator;
        QVERIFY(coordinator.upgradePrompt());
        const QString status = coordinator.statusText();
        const auto error = coordinator.lastErrorMessage();
        const auto summary = coordinator.lastRecordingSummary();
        QCOMPARE(view.presentations().currentKey(), DashboardView::kSignInPromptPresentation);
        QCOMPARE(labelText(rig, QStringLiteral("promptTitle")), QStringLiteral("Sign in to use Quillvane"));
        QCOMPARE(labelText(rig, QStringLiteral("promptMessage")),
                 QStringLiteral(
                     "You must sign in to use Quillvane. Sign in from the bottom-left corner of the app, "
                     "then try again."));
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("promptCloseButton"))->accessibleName(),
                 QStringLiteral("Close"));

        if (how == QLatin1String("close")) {
            click(rig.find<QPushButton>(QStringLiteral("promptCloseButton")));
        } else if (how == QLatin1String("gotIt")) {
            click(rig.find<QPushButton>(QStringLiteral("promptGotItButton")));
        } else {
            QTest::keyClick(rig.find<QPushButton>(QStringLiteral("promptGotItButton")), Qt::Key_Escape);
        }
        QVERIFY(!coordinator.upgradePrompt());
        QVERIFY(view.presentations().currentKey().isEmpty());
        QCOMPARE(coordinator.statusText(), status);
        QCOMPARE(coordinator.lastErrorMessage(), error);
        QCOMPARE(coordinator.lastRecordingSummary(), summary);
        QCOMPARE(view.state().selectedSection(), AppSection::Home);
    }

    void newPromptReplacesTheOpenOne() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        rig.publishPrompt();
        QPointer<QWidget> first = view.presentations().currentContent();
        rig.dictation.coordinator.setUpgradePrompt(UpgradePrompt{
            QUuid::createUuid(), QStringLiteral("**Second** [prompt]"), QStringLiteral("<b>plain</b>")});
        QCOMPARE(view.presentations().currentKey(), DashboardView::kSignInPromptPresentation);
        QVERIFY(view.presentations().queuedKeys().isEmpty());
        QVERIFY(view.presentations().currentContent() != first.data());
        QCOMPARE(labelText(rig, QStringLiteral("promptTitle")), QStringLiteral("**Second** [prompt]"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("promptMessage"))->textFormat(), Qt::PlainText);
        click(rig.find<QPushButton>(QStringLiteral("promptGotItButton")));
        QVERIFY(!rig.dictation.coordinator.upgradePrompt());
        QVERIFY(view.presentations().currentKey().isEmpty());
    }

    void promptPublishedBeforeTheWindowShowsWhenItOpens() {
        DashboardRig rig;
        rig.publishPrompt();
        DashboardView& view = rig.makeView();
        view.show();
        QCOMPARE(view.presentations().currentKey(), DashboardView::kSignInPromptPresentation);
        QVERIFY(view.presentations().isVisible());
        // Wider than its content needs: the sheet keeps its width and grows in height.
        QCOMPARE(view.presentations().currentContent()->width(), 460);
    }

    // ---- Reset --------------------------------------------------------------------------------------------

    void resetRunsInOrderAndCancelChangesNothing() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        PromptSettings custom = rig.promptSettings.settings();
        custom.customPrompt = QStringLiteral("Be terse.");
        custom.workDomainSelection = QStringLiteral("legal");
        rig.promptSettings.setSettings(custom);
        rig.appSettings.setSilenceThreshold(500);
        rig.appSettings.setSelectedInputDeviceUID(QStringLiteral("usb-mic"));
        view.state().setCustomPromptDraft(QStringLiteral("unsaved draft"));
        view.state().setSelectedSection(AppSection::Settings);
        connect(&rig.promptSettings, &PromptSettingsStore::settingsChanged, &rig.promptSettings,
                [&rig] { rig.log.calls << QStringLiteral("promptSettings.changed"); });
        connect(&rig.appSettings, &AppSettings::silenceThresholdChanged, &rig.appSettings,
                [&rig] { rig.log.calls << QStringLiteral("appSettings.changed"); });
        rig.log.calls.clear();

        view.state().setShowResetConfirmation(true);
        click(rig.find<QPushButton>(QStringLiteral("resetCancelButton")));
        QVERIFY(!view.state().showResetConfirmation());
        QVERIFY(rig.log.calls.isEmpty());
        QCOMPARE(rig.promptSettings.settings(), custom);
        QCOMPARE(rig.appSettings.silenceThreshold(), 500);
        QCOMPARE(view.state().hotkeyStatusText(),
                 QStringLiteral("Click Change, then press a new global shortcut."));

        view.state().setShowResetConfirmation(true);
        auto* reset = rig.find<DashboardPrimaryButton>(QStringLiteral("resetConfirmButton"));
        QVERIFY(reset->isDestructive());
        click(reset);
        QCOMPARE(rig.log.calls, (QStringList{"promptSettings.changed", "appSettings.changed",
                                             "refreshLaunchAtLogin", "audioInputs.refresh"}));
        QVERIFY(!view.state().showResetConfirmation());
        QCOMPARE(rig.promptSettings.settings(), PromptSettings{});
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(), std::nullopt);
        QCOMPARE(rig.audioInputs.statusText(),
                 QStringLiteral("Using your computer's default microphone: Built-in "
                                "Microphone"));
        QCOMPARE(view.state().hotkeyStatusText(), QStringLiteral("Settings reset to defaults."));
        QCOMPARE(view.state().customPromptDraft(), PromptSettings::defaultCustomPrompt());
        QCOMPARE(view.state().selectedSection(), AppSection::Settings);
    }

    // ---- Sidebar ------------------------------------------------------------------------------------------

    void signedOutCardOffersTheProviders() {
        DashboardRig rig;
        rig.account.microsoftAvailable = false;
        rig.makeView().show();
        QCOMPARE(labelText(rig, QStringLiteral("accountLabel")), QStringLiteral("Not signed in"));
        QVERIFY(!shown(rig, QStringLiteral("accountEmail")));
        QVERIFY(!shown(rig, QStringLiteral("defaultTriggerGroup")));
        QVERIFY(!shown(rig, QStringLiteral("signOutButton")));
        QVERIFY(shown(rig, QStringLiteral("signInBlock")));
        auto* apple = rig.find<QPushButton>(QStringLiteral("appleSignInButton"));
        auto* google = rig.find<QPushButton>(QStringLiteral("googleSignInButton"));
        auto* microsoft = rig.find<QPushButton>(QStringLiteral("microsoftSignInButton"));
        QCOMPARE(apple->text(), QStringLiteral("Sign in with Apple"));
        QCOMPARE(google->text(), QStringLiteral("Sign In With Google"));
        QCOMPARE(microsoft->text(), QStringLiteral("Sign In With Microsoft"));
        QVERIFY(!microsoft->isEnabled());
        QVERIFY(shown(rig, QStringLiteral("microsoftNote")));

        click(apple);
        click(google);
        click(microsoft); // disabled: nothing
        QCOMPARE(rig.log.calls.filter(QStringLiteral("signIn")),
                 (QStringList{"signInWithApple", "signInWithGoogle"}));

        // Any attempt in progress turns every title into its retry, the disabled one too.
        rig.auth.beginAuth(QStringLiteral("Apple"));
        QCOMPARE(apple->text(), QStringLiteral("Retry Apple Sign-In"));
        QCOMPARE(google->text(), QStringLiteral("Retry Google Sign-In"));
        QCOMPARE(microsoft->text(), QStringLiteral("Retry Microsoft Sign-In"));
        QVERIFY(!microsoft->isEnabled());
    }

    void signOutClearsSessionThenSyncThenIdentity_data() {
        QTest::addColumn<bool>("withProvider");
        QTest::addColumn<bool>("withToken");
        QTest::newRow("provider and token") << true << true;
        QTest::newRow("token only") << false << true;
        QTest::newRow("provider only") << true << false;
    }
    void signOutClearsSessionThenSyncThenIdentity() {
        QFETCH(bool, withProvider);
        QFETCH(bool, withToken);
        DashboardRig rig;
        if (withToken) {
            rig.signIn(QStringLiteral("google"), QStringLiteral("Ada Lovelace"),
                       QStringLiteral("ada@example.org"));
        }
        if (!withProvider) {
            rig.auth.signOut();
        } else if (!withToken) {
            rig.auth.completeAuth(QStringLiteral("google"), std::nullopt, std::nullopt);
        }
        rig.makeView().show();
        QVERIFY(shown(rig, QStringLiteral("signOutButton")));
        QVERIFY(!shown(rig, QStringLiteral("signInBlock")));
        QCOMPARE(shown(rig, QStringLiteral("defaultTriggerGroup")), withToken);

        connect(&rig.session, &SessionCoordinator::statusTextChanged, &rig.session,
                [&rig] { rig.log.calls << QStringLiteral("session.cleared"); });
        // When the sync status is reset, the session is gone and the identity not yet.
        rig.account.onSyncIdle = [&rig] {
            rig.log.calls << QStringLiteral("token=%1 provider=%2")
                                 .arg(rig.session.activeSessionToken().has_value())
                                 .arg(rig.auth.provider().has_value());
        };
        rig.log.calls.clear();
        click(rig.find<QPushButton>(QStringLiteral("signOutButton")));
        QCOMPARE(rig.log.calls, (QStringList{"session.cleared", "showSyncIdle",
                                             QStringLiteral("token=0 provider=%1").arg(withProvider)}));
        QCOMPARE(rig.auth.statusText(), QStringLiteral("Signed out"));
        QVERIFY(!rig.session.activeSessionToken() && !rig.auth.provider());
        QCOMPARE(labelText(rig, QStringLiteral("accountLabel")), QStringLiteral("Not signed in"));
        QVERIFY(shown(rig, QStringLiteral("signInBlock")));
        QVERIFY(!shown(rig, QStringLiteral("defaultTriggerGroup")));
    }

    // Under the sign-in buttons: the attempt's progress, then its failure, verbatim and within the column;
    // nothing once signed in; why the session ended after the backend refused it.
    void signInNoticeUnderTheButtons() {
        DashboardRig rig;
        rig.account.microsoftAvailable = false;
        DashboardView& view = rig.makeView(minimumViewSize());
        view.show();
        auto* notice = rig.find<ElidedLabel>(QStringLiteral("signInNotice"));
        QVERIFY(notice && !notice->isVisibleTo(&view)); // nothing tried yet

        rig.auth.beginAuth(QStringLiteral("Google"));
        QVERIFY(notice->isVisibleTo(&view));
        QCOMPARE(notice->text(), QStringLiteral("Opening Google sign-in..."));

        const QString failure = QStringLiteral(
            "Google sign-in failed: <b>port</b> 127.0.0.1:53682 is in use by another program, so the browser "
            "could not hand the sign-in back. Close the other program (it may be a second Quillvane) and try "
            "again; if that does not help, restart the computer and sign in before opening anything else.");
        rig.auth.fail(failure);
        QCOMPARE(notice->text(), failure); // markup stays text
        QCOMPARE(notice->toolTip(), failure);
        QApplication::processEvents();
        auto* sidebar = view.sidebar();
        const QRect area(notice->mapTo(sidebar, QPoint(0, 0)), notice->size());
        QVERIFY2(sidebar->rect().contains(area), qPrintable(QStringLiteral("notice at %1,%2 %3x%4")
                                                                .arg(area.x())
                                                                .arg(area.y())
                                                                .arg(area.width())
                                                                .arg(area.height())));
        const QStringList lines = notice->displayedLines(notice->width());
        QCOMPARE(lines.size(), DashboardSidebar::kSignInNoticeMaxLines);
        QVERIFY(notice->isElided(notice->width()));
        QVERIFY2(
            lines.join(QLatin1Char(' ')).startsWith(QStringLiteral("Google sign-in failed: <b>port</b>")),
            qPrintable(lines.join(QLatin1Char('|'))));
        const QFontMetrics metrics(notice->font());
        for (const QString& line : lines) {
            QVERIFY2(metrics.horizontalAdvance(line) <= notice->width(), qPrintable(line));
        }

        rig.signIn(QStringLiteral("google"), QStringLiteral("Ada"), std::nullopt);
        QVERIFY(!shown(rig, QStringLiteral("signInBlock")));
        QCOMPARE(rig.auth.signInNotice(), QString());

        rig.session.invalidateSessionDueToAuthenticationFailure(QStringLiteral("Session refresh failed."));
        rig.auth.endRejectedSession(AuthStore::kSessionEndedNotice);
        QVERIFY(shown(rig, QStringLiteral("signInBlock")));
        QCOMPARE(labelText(rig, QStringLiteral("accountLabel")), QStringLiteral("Not signed in"));
        QCOMPARE(notice->text(), AuthStore::kSessionEndedNotice);
        QVERIFY(notice->isVisibleTo(&view));
    }

    // The container publishes nothing: the sidebar and the home page follow the stores themselves.
    void identityAndFiguresFollowTheStores() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        QCOMPARE(labelText(rig, QStringLiteral("homeTitle")), QStringLiteral("Quillvane"));

        rig.signIn(QStringLiteral("apple"), QStringLiteral("Ada Lovelace"),
                   QStringLiteral("a1@privaterelay.appleid.com"), 700, 10);
        QCOMPARE(labelText(rig, QStringLiteral("accountLabel")), QStringLiteral("Ada Lovelace"));
        QVERIFY(!shown(rig, QStringLiteral("accountEmail")));
        QCOMPARE(labelText(rig, QStringLiteral("homeTitle")), QStringLiteral("Welcome back, Ada"));
        QCOMPARE(labelText(rig, QStringLiteral("defaultTriggerValue")),
                 rig.appSettings.hotkey().displayString());
        QCOMPARE(labelText(rig, QStringLiteral("timeSaved")),
                 QStringLiteral("10 min saved compared with typing"));

        // A refresh that changes only the word count.
        SessionResponseDTO snapshot;
        snapshot.total_words = 2500;
        snapshot.total_minutes = 10;
        snapshot.profile = rig.session.profile();
        rig.session.applySessionSnapshot(snapshot);
        QVERIFY(visibleTexts(view.homePage()->statChips(), QStringLiteral("statChipText"))
                    .contains(QStringLiteral("2.5K words")));
        QCOMPARE(labelText(rig, QStringLiteral("timeSaved")),
                 QStringLiteral("1.0 hr saved compared with typing"));

        HotkeyDefinition chord = rig.appSettings.hotkey();
        chord.keyCode = 49; // Space
        chord.carbonModifiers = CarbonModifier::Control | CarbonModifier::Option;
        chord.includesFunctionKey = false;
        chord.isModifierOnly = false;
        rig.appSettings.setHotkey(chord);
        QCOMPARE(labelText(rig, QStringLiteral("defaultTriggerValue")), chord.displayString());
        QCOMPARE(labelText(rig, QStringLiteral("shortcutHeroTitle")),
                 QStringLiteral("Hold ") + chord.displayString() + QStringLiteral(" to dictate anywhere."));
        QCOMPARE(labelText(rig, QStringLiteral("dictatePillValue")), chord.displayString());
    }

    // ---- Home ---------------------------------------------------------------------------------------------

    // A store that set its file aside says so on Home, with the path the file was kept at; the line goes
    // when the notice does. With QUILLVANE_SCREENSHOTS set to a folder, the page is saved there as PNGs.
    void homeTellsOfAStoreFileSetAside() {
        StorageNotices::instance().clear();
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        auto* notice = rig.find<QLabel>(QStringLiteral("storageNotice"));
        QVERIFY(notice);
        QVERIFY(!notice->isVisible());

        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("notes.json"));
        {
            QFile bad(file);
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write(R"([{"id":"1","title":"t","body":"b","timestamp":"2026-03-14T15:09:26Z"}])");
        }
        NotesStore notes(folder.path());
        const QStringList aside = QDir(folder.path()).entryList({QStringLiteral("notes.json.corrupt-*")});
        QCOMPARE(aside.size(), 1);
        QTRY_VERIFY(notice->isVisible());
        QCOMPARE(notice->text(),
                 QStringLiteral("Part of your notes could not be read (1 left out). The file as it "
                                "was is kept at ") +
                     folder.filePath(aside.first()));
        for (const QSize size : {view.minimumSize(), QSize(1100, 760)}) {
            view.resize(size);
            QTest::qWait(50);
            QVERIFY(notice->geometry().right() <= notice->parentWidget()->width());
            if (const QString shots = qEnvironmentVariable("QUILLVANE_SCREENSHOTS"); !shots.isEmpty()) {
                view.grab().save(QDir(shots).filePath(
                    QStringLiteral("home-storage-notice-%1x%2.png").arg(size.width()).arg(size.height())));
            }
        }

        StorageNotices::instance().clear();
        QVERIFY(!notice->isVisible());
    }

    void chipsShowTheFirstLayoutThatFits() {
        DashboardRig rig;
        rig.signIn(QStringLiteral("google"), QStringLiteral("Ada"), std::nullopt, 0, 0);
        DashboardView& view = rig.makeView();
        FitToWidth* chips = view.homePage()->statChips();
        const int one = chips->sizeHint().width();
        QCOMPARE(chips->indexForWidth(one), 0);
        QCOMPARE(chips->indexForWidth(one - 1), 1);
        QCOMPARE(chips->indexForWidth(0), 2);
        QVERIFY(chips->minimumSizeHint().width() < one);

        view.resize(1400, 800);
        view.show();
        QTRY_COMPARE(chips->currentIndex(), 0);
        QCOMPARE(visibleTexts(chips, QStringLiteral("statChipText")),
                 (QStringList{"0 words", "0.0 min", "0 WPM"}));
        view.resize(720, 800);
        QTRY_VERIFY(chips->currentIndex() > 0);
        QCOMPARE(visibleTexts(chips, QStringLiteral("statChipText")), (QStringList{"0", "0m", "0 WPM"}));
    }

    void fitToWidthPicksByWidthAlone() {
        QWidget window;
        FitToWidth& fit = *new FitToWidth(&window);
        window.show();
        for (const int width : {300, 200, 120}) {
            auto* alternative = new QWidget();
            alternative->setFixedSize(width, 20);
            fit.addAlternative(alternative);
        }
        const QList<std::pair<int, int>> cases{{400, 0}, {300, 0}, {299, 1}, {200, 1}, {150, 2}, {50, 2}};
        for (const auto& [width, index] : cases) {
            fit.resize(width, 40);
            QCOMPARE(fit.currentIndex(), index);
            QVERIFY(fit.currentWidget()->isVisibleTo(&fit));
        }
        QCOMPARE(fit.minimumSizeHint().width(), 120);
    }

    void historyShowsTheTwelveNewestWithDividers() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        QVERIFY(shown(rig, QStringLiteral("historyEmpty")));
        QVERIFY(!shown(rig, QStringLiteral("historyList")));
        QCOMPARE(visibleTexts(&view, QStringLiteral("historyHeading")), QStringList{"TODAY"});

        for (int i = 1; i <= 13; ++i) {
            rig.history.addEntry(QStringLiteral("entry %1").arg(i), QStringLiteral("Tidewell"),
                                 QStringLiteral("Kate"), 1);
        }
        QWidget* list = rig.find<QWidget>(QStringLiteral("historyList"));
        QCOMPARE(
            list->findChildren<QWidget*>(QStringLiteral("historyRow"), Qt::FindDirectChildrenOnly).size(),
            12);
        QVERIFY(!shown(rig, QStringLiteral("historyEmpty")));
        view.show();
        QCOMPARE(visibleTexts(&view, QStringLiteral("historyHeading")), QStringList{"TODAY"});
        QStringList texts; // in the order shown
        int dividers = 0;
        for (int i = 0; i < list->layout()->count(); ++i) {
            QWidget* row = list->layout()->itemAt(i)->widget();
            QCOMPARE(row->objectName(), QStringLiteral("historyRow"));
            texts << visibleTexts(row, QStringLiteral("historyText"));
            dividers += row->findChild<QWidget*>(QStringLiteral("historyDivider"))->isVisibleTo(row);
        }
        QCOMPARE(texts.size(), 12);
        QCOMPARE(texts.first(), QStringLiteral("entry 13"));
        QCOMPARE(texts.last(), QStringLiteral("entry 2"));
        QCOMPARE(dividers, 11);
        QVERIFY(visibleTexts(list, QStringLiteral("historyMeta"))
                    .first()
                    .startsWith(QStringLiteral("Tidewell \u2022 Kate \u2022 ")));
    }

    // One heading per day, newest day first, each over its own entries; the last row of a day has no
    // divider. Past midnight the headings move on by themselves while the card is shown.
    void historyGroupsByDay() {
        DashboardRig rig;
        ManualClock& clock = rig.dictation.time.clock;
        const auto add = [&](QDate day, QTime time, const QString& text) {
            clock.setNow(QDateTime(day, time, Qt::UTC));
            rig.history.addEntry(text, std::nullopt, QStringLiteral("Kate"), 1);
        };
        add(QDate(2025, 12, 30), QTime(10, 0), QStringLiteral("last year"));
        add(QDate(2026, 12, 5), QTime(23, 59, 59), QStringLiteral("saturday"));
        add(QDate(2026, 12, 6), QTime(0, 0), QStringLiteral("sunday early"));
        add(QDate(2026, 12, 6), QTime(23, 59, 59), QStringLiteral("sunday late"));
        add(QDate(2026, 12, 7), QTime(0, 0), QStringLiteral("monday"));
        clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC));
        DashboardView& view = rig.makeView();
        view.show();
        QCoreApplication::processEvents();

        const auto days = [&] {
            QList<QStringList> result; // each day top to bottom: its heading, then its texts
            QLayout* dayLayout = rig.find<QWidget>(QStringLiteral("historyDays"))->layout();
            for (int d = 0; d < dayLayout->count(); ++d) {
                QWidget* day = dayLayout->itemAt(d)->widget();
                QStringList texts = visibleTexts(day, QStringLiteral("historyHeading"));
                if (!day->isVisibleTo(&view)) {
                    texts << QStringLiteral("<hidden>");
                }
                QWidget* list = day->findChild<QWidget*>(QStringLiteral("historyList"));
                for (int i = 0; i < list->layout()->count(); ++i) {
                    QWidget* row = list->layout()->itemAt(i)->widget();
                    texts << visibleTexts(row, QStringLiteral("historyText"));
                    const bool last = i + 1 == list->layout()->count();
                    if (row->findChild<QWidget*>(QStringLiteral("historyDivider"))->isVisibleTo(row) ==
                        last) {
                        texts << QStringLiteral("<divider wrong>");
                    }
                }
                result << texts;
            }
            return result;
        };
        QCOMPARE(days(), (QList<QStringList>{{"TODAY", "monday"},
                                             {"YESTERDAY", "sunday late", "sunday early"},
                                             {"SATURDAY, 5 DECEMBER", "saturday"},
                                             {"TUESDAY, 30 DECEMBER 2025", "last year"}}));

        // Midnight passes while the page is shown: the next minute's refresh moves the headings on.
        clock.setNow(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 30), Qt::UTC));
        rig.dictation.time.scheduler.advance(std::chrono::minutes(1));
        QCOMPARE(days(), (QList<QStringList>{{"YESTERDAY", "monday"},
                                             {"SUNDAY, 6 DECEMBER", "sunday late", "sunday early"},
                                             {"SATURDAY, 5 DECEMBER", "saturday"},
                                             {"TUESDAY, 30 DECEMBER 2025", "last year"}}));
    }

    // The "... ago" times move on once a minute while the card is shown; hidden (another page, or the
    // window closed) the card schedules nothing, and shown again it is up to date at once.
    void historyTimesMoveOnOnlyWhileShown() {
        DashboardRig rig;
        ManualScheduler& scheduler = rig.dictation.time.scheduler;
        rig.history.addEntry(QStringLiteral("one"), std::nullopt, QStringLiteral("Kate"), 1);
        DashboardView& view = rig.makeView();
        const int atRest = scheduler.pendingCount();
        const auto meta = [&] { return visibleTexts(&view, QStringLiteral("historyMeta")).value(0); };
        view.show();
        QCOMPARE(scheduler.pendingCount(), atRest + 1);
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 0 sec. ago"));
        scheduler.advance(std::chrono::seconds(59));
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 0 sec. ago"));
        scheduler.advance(std::chrono::seconds(1));
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 1 min. ago"));
        scheduler.advance(std::chrono::hours(3));
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 3 hr. ago"));

        view.state().setSelectedSection(AppSection::Settings);
        QCOMPARE(scheduler.pendingCount(), atRest);
        view.state().setSelectedSection(AppSection::Home);
        QCOMPARE(scheduler.pendingCount(), atRest + 1);

        view.hide();
        QCOMPARE(scheduler.pendingCount(), atRest);
        scheduler.advance(std::chrono::hours(2));
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 3 hr. ago"));
        view.show();
        QCOMPARE(meta(), QStringLiteral("Quillvane \u2022 Kate \u2022 5 hr. ago"));
        QCOMPARE(scheduler.pendingCount(), atRest + 1);
    }

    void rowAndButtonEachCopyOnce() {
        RuntimeLogCapture log;
        DashboardRig rig;
        rig.history.addEntry(QStringLiteral("Hello 👋🏽 world"), std::nullopt, QStringLiteral("Kate"), 1);
        DashboardView& view = rig.makeView();
        view.show();
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("before"));
        QSignalSpy copies(clipboard, &QClipboard::dataChanged);

        QWidget* row = rig.find<QWidget>(QStringLiteral("historyRow"));
        click(row, QPoint(row->width() / 2, row->height() - 4));
        QCOMPARE(copies.count(), 1);
        QCOMPARE(clipboard->text(), QStringLiteral("Hello 👋🏽 world"));

        QPushButton* button = nullptr;
        for (auto* candidate : row->findChildren<QPushButton*>(QStringLiteral("historyCopyButton"))) {
            if (candidate->isVisibleTo(row)) {
                button = candidate;
            }
        }
        clipboard->setText(QStringLiteral("between"));
        copies.clear();
        click(button);
        QCOMPARE(copies.count(), 1);
        QCOMPARE(clipboard->text(), QStringLiteral("Hello 👋🏽 world"));
        QCOMPARE(log.entriesStartingWith(QStringLiteral("INFO Copied text to clipboard")),
                 (QStringList{"INFO Copied text to clipboard chars=13",
                              "INFO Copied text to clipboard chars=13"}));
    }

    // A copy says "Copied" beside the row's button for a moment; a second copy starts the moment again.
    void copyIsConfirmedForAMoment() {
        DashboardRig rig;
        ManualScheduler& scheduler = rig.dictation.time.scheduler;
        rig.history.addEntry(QStringLiteral("first"), std::nullopt, QStringLiteral("Kate"), 1);
        rig.history.addEntry(QStringLiteral("second"), std::nullopt, QStringLiteral("Kate"), 1);
        DashboardView& view = rig.makeView();
        view.show();
        const auto rowsShown = view.findChildren<QWidget*>(QStringLiteral("historyRow"));
        QCOMPARE(rowsShown.size(), 2);
        QWidget* row = rowsShown[0]->y() < rowsShown[1]->y() ? rowsShown[0] : rowsShown[1];
        QWidget* other = row == rowsShown[0] ? rowsShown[1] : rowsShown[0];
        const auto confirmation = [](QWidget* root) {
            QStringList texts;
            for (QLabel* label : root->findChildren<QLabel*>(QStringLiteral("historyCopied"))) {
                if (label->isVisibleTo(root)) {
                    texts << label->text() + QLatin1Char('/') + label->accessibleName();
                }
            }
            return texts;
        };
        QVERIFY(confirmation(row).isEmpty());
        click(row, QPoint(row->width() / 2, row->height() - 4));
        QCOMPARE(confirmation(row), QStringList{"Copied/Copied"});
        QVERIFY(confirmation(other).isEmpty());
        scheduler.advance(std::chrono::milliseconds(1000));
        QCOMPARE(confirmation(row), QStringList{"Copied/Copied"});
        click(row, QPoint(row->width() / 2, row->height() - 4));
        scheduler.advance(std::chrono::milliseconds(1000));
        QCOMPARE(confirmation(row), QStringList{"Copied/Copied"});
        scheduler.advance(std::chrono::milliseconds(500));
        QVERIFY(confirmation(row).isEmpty());
    }

    void hoverShowsTheCopyLabel() {
        DashboardRig rig;
        rig.history.addEntry(QStringLiteral("one"), std::nullopt, QStringLiteral("Kate"), 1);
        DashboardView& view = rig.makeView();
        view.show();
        const QUuid id = rig.history.entries().first().id;
        QWidget* area = nullptr;
        for (auto* candidate : view.findChildren<QWidget*>(QStringLiteral("historyCopyArea"))) {
            if (candidate->isVisibleTo(&view)) {
                area = candidate;
            }
        }
        QVERIFY(area);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(area, &enter);
        QCOMPARE(view.state().hoveredHistoryID(), id);
        QVERIFY(shown(rig, QStringLiteral("copyBubble")));
        QCOMPARE(labelText(rig, QStringLiteral("copyBubble")), QStringLiteral("Copy Transcript"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(area, &leave);
        QCOMPARE(view.state().hoveredHistoryID(), std::nullopt);
        QVERIFY(!shown(rig, QStringLiteral("copyBubble")));
    }

    void retryRow_data() {
        QTest::addColumn<bool>("savedRecording");
        QTest::addColumn<bool>("error");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("rowShown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("nothing") << false << false << false << false << false;
        QTest::newRow("error only") << false << true << false << true << false;
        QTest::newRow("saved, idle") << true << false << false << true << true;
        QTest::newRow("saved, idle, error") << true << true << false << true << true;
        QTest::newRow("saved, recording") << true << false << true << false << false;
        QTest::newRow("saved, recording, error") << true << true << true << true << false;
        QTest::newRow("recording only") << false << false << true << false << false;
    }
    void retryRow() {
        QFETCH(bool, savedRecording);
        QFETCH(bool, error);
        QFETCH(bool, recording);
        QFETCH(bool, rowShown);
        QFETCH(bool, enabled);
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        if (savedRecording) {
            dictate(rig.dictation);
        }
        const QString message = QStringLiteral("Transcription failed: the backend answered 502 Bad Gateway. "
                                               "Check your connection and press Retry Last Submission.");
        if (recording) {
            rig.dictation.shortcuts.press(); // a start clears the last error: publish it afterwards
        }
        if (error) {
            rig.dictation.coordinator.publishFailure(message);
        }
        QCOMPARE(shown(rig, QStringLiteral("retryRow")), rowShown);
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("retryButton"))->isEnabled(), enabled);
        QCOMPARE(shown(rig, QStringLiteral("retryError")), error);
    }

    void secondRetryPressWaitsForTheFirst() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        dictate(rig.dictation);
        QCOMPARE(rig.dictation.pipeline.runs.size(), 1);
        rig.dictation.pipeline.hold = true;
        auto* retry = rig.find<QPushButton>(QStringLiteral("retryButton"));
        QVERIFY(retry->isEnabled());
        click(retry);
        QCOMPARE(rig.dictation.pipeline.runs.size(), 2);
        QVERIFY(!retry->isEnabled());
        click(retry);
        retry->click(); // even a programmatic press is refused
        QCOMPARE(rig.dictation.pipeline.runs.size(), 2);

        rig.dictation.pipeline.finish();
        QTRY_VERIFY(retry->isEnabled());
        click(retry);
        QCOMPARE(rig.dictation.pipeline.runs.size(), 3);
        rig.dictation.pipeline.finish();
    }

    // ---- Long texts ---------------------------------------------------------------------------------------

    // Only what shows is laid out: the lines fit the width, a cut ends in "…", line breaks start lines.
    // (A 100,000-character text here took seconds when every dropped word was measured again.)
    void longTextsAreFittedToTheirLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<QString>("first");
        const QString words = QStringLiteral("move the review to Thursday ").repeated(4000); // 112,000
        QTest::newRow("short") << "Hello there" << 1 << false << "Hello there";
        QTest::newRow("100k words") << words << 4 << true << "move the review to";
        QTest::newRow("100k without a space") << QString(100'000, QLatin1Char('x')) << 4 << true << "xxx";
        QTest::newRow("line breaks") << "one\ntwo\nthree" << 3 << false << "one";
        // The last line takes the rest, its breaks read as spaces.
        QTest::newRow("more breaks than lines") << "a\nb\nc\nd\ne\nf" << 4 << false << "a";
    }
    void longTextsAreFittedToTheirLines() {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(bool, cut);
        QFETCH(QString, first);
        QFont font = DashboardFonts::font(13);
        const QFontMetrics metrics(font);
        const QStringList shown = DisplayText::fitLines(text, font, 268, 4);
        QCOMPARE(shown.size(), lines);
        QVERIFY2(shown.first().startsWith(first), qPrintable(shown.first()));
        QCOMPARE(shown.last().endsWith(DisplayText::kEllipsis), cut);
        for (const QString& line : shown) {
            QVERIFY2(metrics.horizontalAdvance(line) <= 268, qPrintable(line));
        }
        // The same through the label that shows such texts (its lines are kept per width).
        ElidedLabel label(4);
        label.setFont(font);
        label.setText(text);
        QCOMPARE(label.displayedLines(268), shown);
        QCOMPARE(label.isElided(268), cut);
    }

    void clipNeverSplitsACharacter() {
        const QString text = QStringLiteral("ab\U0001F600cd"); // an emoji is two UTF-16 units
        QCOMPARE(DisplayText::clip(text, 3), QStringLiteral("ab") + DisplayText::kEllipsis);
        QCOMPARE(DisplayText::clip(text, 4), QStringLiteral("ab\U0001F600") + DisplayText::kEllipsis);
        QCOMPARE(DisplayText::clip(text, 6), text);
    }

private:
    // Starts a recording without a session: the coordinator publishes the sign-in prompt.
    static void runTaskOnce(DashboardRig& rig) { rig.dictation.shortcuts.press(); }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    TestDashboardView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_view.moc"
