// The dashboard's account notices on real stores: a failed cloud sync on the dictionary, snippets and
// settings pages, the launch-at-login switch and "Check for Updates…" on the settings page.

#include "DashboardRig.h"
#include "NoticeFakes.h"

#include "SettingsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

void click(QWidget* widget) {
    QVERIFY(widget);
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

QString subtitleOf(QWidget* row) {
    QStringList texts;
    for (QLabel* label : row->findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts.join(QLatin1Char('|'));
}

} // namespace

class TestDashboardNotices : public QObject {
    Q_OBJECT

private slots:
    // The notice shows on each of the three pages while the failure lasts, with what to do, offers "Try
    // Again" only where it can help, and goes when the failure is cleared.
    void syncFailureShowsOnTheKnowledgeAndSettingsPages_data() {
        QTest::addColumn<int>("section");
        QTest::newRow("dictionary") << int(AppSection::Dictionary);
        QTest::newRow("snippets") << int(AppSection::Snippets);
        QTest::newRow("settings") << int(AppSection::Settings);
    }
    void syncFailureShowsOnTheKnowledgeAndSettingsPages() {
        QFETCH(int, section);
        DashboardRig rig;
        FakeSyncFailures failures;
        rig.services.syncFailures = &failures;
        DashboardView& view = rig.makeView({960, 640});
        view.state().setSelectedSection(AppSection(section));
        view.show();
        QWidget* page = view.currentPage();
        auto* notice = page->findChild<SyncFailureNotice*>(QStringLiteral("syncFailureNotice"));
        QVERIFY(notice);
        QVERIFY(!notice->isVisibleTo(page));

        failures.set(QStringLiteral("Knowledge Base save failed: Connection refused"),
                     QStringLiteral("Check your internet connection."), true);
        QVERIFY(notice->isVisibleTo(page));
        QCOMPARE(notice->text(), failures.text);
        QCOMPARE(notice->advice(), failures.advice);
        QCOMPARE(notice->accessibleName(), failures.text);
        // At the top: above every card of the page.
        const int top = notice->mapTo(page, QPoint(0, 0)).y();
        for (QWidget* card : page->findChildren<QWidget*>(QRegularExpression("Card$"))) {
            if (card->isVisibleTo(page)) {
                QVERIFY2(card->mapTo(page, QPoint(0, 0)).y() > top, qPrintable(card->objectName()));
            }
        }
        QVERIFY(notice->retryButton()->isVisibleTo(page));
        click(notice->retryButton());
        QCOMPARE(failures.retries, 1);

        failures.set(QStringLiteral("Knowledge Base save failed: Backend error 401: No session token"),
                     QStringLiteral("Sign in to sync."), false);
        QVERIFY(!notice->retryButton()->isVisibleTo(page));

        failures.set({}, {}, false);
        QVERIFY(!notice->isVisibleTo(page));
    }

    // Without a sync source (or before any failure) no page shows a notice.
    void noSyncSourceShowsNothing() {
        DashboardRig rig;
        DashboardView& view = rig.makeView();
        const auto notices = view.findChildren<SyncFailureNotice*>();
        QCOMPARE(notices.size(), 3);
        for (SyncFailureNotice* notice : notices) {
            QVERIFY(!notice->isVisibleTo(&view));
        }
    }

    void launchAtLoginSwitch() {
        DashboardRig rig;
        FakeLaunchAtLogin launch;
        rig.services.launchAtLogin = &launch;
        DashboardView& view = rig.makeView({960, 640});
        view.state().setSelectedSection(AppSection::Settings);
        view.show();
        auto* toggle = rig.find<QCheckBox>(QStringLiteral("launchAtLoginSwitch"));
        QWidget* row = rig.find<QWidget>(QStringLiteral("launchAtLoginRow"));
        QVERIFY(toggle && row);
        QVERIFY(toggle->isVisibleTo(&view));
        QVERIFY(!toggle->isChecked());
        QVERIFY(subtitleOf(row).contains(launch.statusText()));

        click(toggle);
        QCOMPARE(launch.requests, QList<bool>{true});
        QVERIFY(toggle->isChecked());
        QVERIFY(subtitleOf(row).contains(QStringLiteral("opens automatically")));

        // Registered from a build tree: the row says where the entry points.
        launch.pointAt(QStringLiteral("Starts /home/ada/src/build/bin/quillvane, not an installed copy of "
                                      "Quillvane."));
        QVERIFY2(subtitleOf(row).contains(launch.target), qPrintable(subtitleOf(row)));

        // A write that fails leaves the switch showing the entry as it is.
        launch.writesFail = true;
        click(toggle);
        QCOMPARE(launch.requests, (QList<bool>{true, false}));
        QVERIFY(toggle->isChecked());
    }

    void checkForUpdatesOnlyWhenConfigured_data() {
        QTest::addColumn<bool>("configured");
        QTest::newRow("configured") << true;
        QTest::newRow("not configured") << false;
    }
    void checkForUpdatesOnlyWhenConfigured() {
        QFETCH(bool, configured);
        DashboardRig rig;
        int checks = 0;
        if (configured) {
            rig.services.checkForUpdates = [&checks] { ++checks; };
        }
        DashboardView& view = rig.makeView({960, 640});
        view.state().setSelectedSection(AppSection::Settings);
        view.show();
        auto* button = rig.find<QPushButton>(QStringLiteral("checkForUpdatesButton"));
        QCOMPARE(button != nullptr, configured);
        // With neither launch at login nor updates, the card is not there to see.
        QCOMPARE(rig.find<QWidget>(QStringLiteral("startupCard"))->isVisibleTo(&view), configured);
        if (configured) {
            QCOMPARE(button->text(), QStringLiteral("Check for Updates…"));
            click(button);
            QCOMPARE(checks, 1);
        }
    }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    TestDashboardNotices test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_notices.moc"
