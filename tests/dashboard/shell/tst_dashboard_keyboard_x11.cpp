// The dashboard from the keyboard, on a real X display: key events go in through the window as the X
// server delivers them (the window's platform handle), so focus, shortcuts and propagation are Qt's own.
// While a sheet shows, Tab cycles inside it, keys never reach the page behind, Escape closes it and the
// focus returns where it was; every button reached by Tab shows a focus ring, and a click shows none.

#include "DashboardRig.h"

#include "DashboardSidebar.h"
#include "PresentationHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QStackedWidget>
#include <QTest>

namespace {

QWidget* focused() {
    return QApplication::focusWidget();
}

QString nameOf(const QWidget* widget) {
    return widget ? widget->objectName() : QStringLiteral("<none>");
}

void press(DashboardView& view, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(view.windowHandle(), key, modifiers);
}

// The sidebar's row of a section.
NavRow* navRow(DashboardView& view, AppSection section) {
    for (auto* row : view.sidebar()->findChildren<NavRow*>()) {
        if (row->section() == section) {
            return row;
        }
    }
    return nullptr;
}

struct Sheet {
    std::function<void(DashboardRig&)> open;
    std::function<bool(DashboardRig&)> isOpen;
    QStringList stops; // the controls Tab reaches, in order
};

Sheet sheet(const QString& name) {
    if (name == QLatin1String("sign-in prompt")) {
        return {[](DashboardRig& rig) { rig.publishPrompt(); },
                [](DashboardRig& rig) { return rig.dictation.coordinator.upgradePrompt().has_value(); },
                {"promptCloseButton", "promptGotItButton"}};
    }
    if (name == QLatin1String("reset confirmation")) {
        return {[](DashboardRig& rig) { rig.view->state().setShowResetConfirmation(true); },
                [](DashboardRig& rig) { return rig.view->state().showResetConfirmation(); },
                {"resetCancelButton", "resetConfirmButton"}};
    }
    if (name == QLatin1String("custom prompt")) {
        return {[](DashboardRig& rig) { rig.view->state().setShowCustomPromptEditor(true); },
                [](DashboardRig& rig) { return rig.view->state().showCustomPromptEditor(); },
                {"customPromptEditor", "customPromptClearButton", "customPromptCancelButton",
                 "customPromptSaveButton"}};
    }
    return {[](DashboardRig& rig) { rig.permissions.setShowOnboarding(true); },
            [](DashboardRig& rig) { return rig.permissions.showOnboarding(); },
            {"placeholderCloseButton"}};
}

void addSheetRows() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"sign-in prompt", "reset confirmation", "custom prompt", "permissions"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

// Whether the button looks different with the keyboard focus than without it.
bool ringShows(QAbstractButton* button, QWidget* elsewhere) {
    const QImage withFocus = button->grab().toImage();
    elsewhere->setFocus(Qt::OtherFocusReason);
    const QImage without = button->grab().toImage();
    return withFocus != without;
}

} // namespace

class TestDashboardKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X server (xcb)");
    }

    // The user had tabbed to the Settings row of the sidebar when the sheet opened.
    void tabCyclesInsideTheSheetAndEscapeClosesIt_data() { addSheetRows(); }
    void tabCyclesInsideTheSheetAndEscapeClosesIt() {
        QFETCH(QString, name);
        const Sheet under = sheet(name);
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QAbstractButton* settingsRow = navRow(view, AppSection::Settings);
        QVERIFY(settingsRow);
        settingsRow->setFocus(Qt::TabFocusReason);
        QCOMPARE(focused(), settingsRow);

        under.open(rig);
        QVERIFY(under.isOpen(rig));
        QWidget* content = view.presentations().currentContent();
        QVERIFY(content);
        // Space reaches the sheet, not the row that had the focus.
        press(view, Qt::Key_Space);
        QCOMPARE(view.state().selectedSection(), AppSection::Home);

        const qsizetype count = under.stops.size();
        QStringList forward;
        for (qsizetype i = 0; i < 2 * count + 1; ++i) {
            press(view, Qt::Key_Tab);
            QVERIFY2(content->isAncestorOf(focused()),
                     qPrintable(QStringLiteral("Tab %1 went to %2").arg(i + 1).arg(nameOf(focused()))));
            forward << nameOf(focused());
        }
        // Every control once per round, in the sheet's order, and round again.
        QStringList sorted = forward.mid(0, count);
        QStringList expected = under.stops;
        sorted.sort();
        expected.sort();
        QCOMPARE(sorted, expected);
        QCOMPARE(forward.mid(count, count), forward.mid(0, count));
        const qsizetype first = under.stops.indexOf(forward.first());
        for (qsizetype i = 0; i < count; ++i) {
            QCOMPARE(forward.at(i), under.stops.at((first + i) % count));
        }
        // Shift+Tab walks back.
        press(view, Qt::Key_Backtab);
        QCOMPARE(nameOf(focused()), forward.at(2 * count - 1));
        QVERIFY(under.isOpen(rig));
        QCOMPARE(view.state().selectedSection(), AppSection::Home);

        press(view, Qt::Key_Escape);
        QVERIFY(!under.isOpen(rig));
        QVERIFY(!view.presentations().isVisible());
        QCOMPARE(focused(), settingsRow);
        QCOMPARE(view.state().selectedSection(), AppSection::Home);
    }

    // Focus handed to a widget behind the sheet (a page asking for it) comes back into the sheet.
    void focusBehindTheSheetComesBack() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        rig.publishPrompt();
        navRow(view, AppSection::Notes)->setFocus(Qt::OtherFocusReason);
        QVERIFY(focused() == &view.presentations() || view.presentations().isAncestorOf(focused()));
        press(view, Qt::Key_Space);
        QCOMPARE(view.state().selectedSection(), AppSection::Home);
        press(view, Qt::Key_Escape);
        QVERIFY(!rig.dictation.coordinator.upgradePrompt());
    }

    void everySheetButtonShowsAFocusRing_data() { addSheetRows(); }
    void everySheetButtonShowsAFocusRing() {
        QFETCH(QString, name);
        const Sheet under = sheet(name);
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        under.open(rig);
        for (qsizetype i = 0; i < under.stops.size(); ++i) {
            press(view, Qt::Key_Tab);
            auto* button = qobject_cast<QAbstractButton*>(focused());
            if (!button) {
                continue; // the prompt's text editor
            }
            QVERIFY2(ringShows(button, &view.presentations()), qPrintable(nameOf(button)));
            press(view, Qt::Key_Tab); // back on the keyboard for the next one
            press(view, Qt::Key_Backtab);
        }
    }

    // Tab reaches every visible button of the sidebar and the page, and each shows the ring; a click
    // gives the focus without one.
    void everyPageButtonReachedByTabShowsARing_data() {
        QTest::addColumn<AppSection>("section");
        for (const AppSection section : AppSections::all()) {
            QTest::newRow(qPrintable(AppSections::toRaw(section))) << section;
        }
    }
    void everyPageButtonReachedByTabShowsARing() {
        QFETCH(AppSection, section);
        DashboardRig rig;
        rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Quillvane"), QStringLiteral("the app"));
        rig.knowledgeBase.createSnippet(QStringLiteral("sign off"), QStringLiteral("Kind regards"));
        rig.history.addEntry(QStringLiteral("A transcript."), QStringLiteral("Tidewell"),
                             QStringLiteral("Mail"), 1.0);
        rig.notes.createNote(QStringLiteral("Plan"), QStringLiteral("Body"), QDateTime::currentDateTimeUtc());
        DashboardView& view = rig.makeView();
        view.state().setSelectedSection(section);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QApplication::processEvents();

        QList<QAbstractButton*> reached;
        QWidget* start = nullptr;
        for (int i = 0; i < 300; ++i) {
            press(view, Qt::Key_Tab);
            QWidget* now = focused();
            if (!start) {
                start = now;
            } else if (now == start) {
                break;
            }
            QCOMPARE(view.state().selectedSection().value_or(AppSection::Home), section);
            auto* button = qobject_cast<QAbstractButton*>(now);
            if (button && !reached.contains(button)) {
                reached << button;
                if (!button->inherits("DashboardSwitch")) {
                    QVERIFY2(ringShows(button, view.sidebar()), qPrintable(nameOf(button) + button->text()));
                }
                button->setFocus(Qt::TabFocusReason); // the walk goes on from here
            }
        }
        for (auto* button : view.findChildren<QAbstractButton*>()) {
            // A group of options (segments) is one stop for Tab; the arrow keys move between them.
            const QButtonGroup* group = button->group();
            const bool groupReached =
                group && std::any_of(reached.begin(), reached.end(), [group](const QAbstractButton* other) {
                    return other->group() == group;
                });
            if (button->isVisibleTo(&view) && button->isEnabled() && !groupReached) {
                QVERIFY2(reached.contains(button), qPrintable(QStringLiteral("not reached by Tab: %1 \"%2\"")
                                                                  .arg(button->metaObject()->className(),
                                                                       nameOf(button) + button->text())));
            }
        }
        // A click focuses without the ring.
        QAbstractButton* row = navRow(view, section);
        QTest::mouseClick(row, Qt::LeftButton, {}, row->rect().center());
        QCOMPARE(focused(), row);
        const QImage clicked = row->grab().toImage();
        view.sidebar()->setFocus(Qt::OtherFocusReason);
        QCOMPARE(row->grab().toImage(), clicked);
    }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    TestDashboardKeyboard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_keyboard_x11.moc"
