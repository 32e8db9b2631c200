#include "AppSettings.h"
#include "BackendClient.h"
#include "DashboardLook.h"
#include "GuidePage.h"
#include "GuideRules.h"
#include "HelpFixtures.h"
#include "ManualTime.h"
#include "RuntimeLogCapture.h"
#include "StandinBackend.h"
#include "TutorialsRules.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include <memory>

namespace {

QStringList labelTexts(const QWidget& root, const QString& name = {}) {
    QStringList texts;
    for (QLabel* label : visibleChildren<QLabel>(root, name)) {
        texts << label->text();
    }
    return texts;
}

// The tutorials page over a state of its own, gated fetches and a recording link opener.
struct TutorialsRig {
    std::unique_ptr<DashboardState> state = std::make_unique<DashboardState>();
    GatedFetches fetches;
    QList<QUrl> opened;
    RuntimeLogCapture log;
    std::unique_ptr<TutorialsPage> page;

    TutorialsPage& make(TutorialsLoader::Fetch fetch) {
        page = std::make_unique<TutorialsPage>(*state, std::move(fetch),
                                               [this](const QUrl& url) { opened.append(url); });
        page->resize(760, 900);
        return *page;
    }
    TutorialsPage& make() { return make(fetches.fetch()); }

    void show() {
        page->show();
        QCoreApplication::processEvents();
    }
    QString status() const { return page->findChild<QLabel*>(QStringLiteral("tutorialsStatus"))->text(); }
    // The sentences the card shows besides its rows: the card is in one state at a time, so one.
    QStringList cardSentences() const {
        QStringList texts;
        QWidget* card = page->findChild<QWidget*>(QStringLiteral("tutorialsCard"));
        for (QLabel* label : visibleChildren<QLabel>(*card, QString())) {
            if (!page->findChild<QWidget*>(QStringLiteral("tutorialsRows"))->isAncestorOf(label)) {
                texts << label->text();
            }
        }
        return texts;
    }
    QStringList titles() const { return labelTexts(*page, QStringLiteral("tutorialTitle")); }
    qsizetype dividers() const {
        return visibleChildren<QFrame>(*page, QStringLiteral("tutorialDivider")).size();
    }
    void reload() const {
        page->findChild<QPushButton*>(QStringLiteral("tutorialsReloadButton"))->click();
        QCoreApplication::processEvents();
    }
    // The lines of the tutorials loads in order, leaving out the backend client's own.
    static QStringList loadLines() {
        QStringList lines;
        for (const QString& entry : RuntimeLogCapture::entries()) {
            if (entry.startsWith(QLatin1String("INFO Loaded tutorials")) ||
                entry.startsWith(QLatin1String("ERROR Failed to load tutorials"))) {
                lines << entry;
            }
        }
        return lines;
    }
};

QList<TutorialItemDTO> tutorials(int count, const QString& prefix = QStringLiteral("t")) {
    QList<TutorialItemDTO> list;
    for (int i = 0; i < count; ++i) {
        list.append(tutorial(prefix + QString::number(i)));
    }
    return list;
}

void savePicture(QWidget& page, const QString& name) {
    page.setStyle(QApplication::style());
    page.setPalette(DashboardPalette::widgetPalette());
    QPalette canvas = page.palette();
    canvas.setColor(QPalette::Window, DashboardPalette::contentCanvas());
    page.setPalette(canvas);
    page.setAutoFillBackground(true);
    page.setFont(DashboardFonts::font(13));
    page.resize(760, 100);
    page.show();
    QCoreApplication::processEvents();
    page.resize(760, page.layout()->totalHeightForWidth(760));
    QCoreApplication::processEvents();
    const QImage image = page.grab().toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 5) {
        for (int x = 0; x < image.width(); x += 5) {
            colours.insert(image.pixel(x, y));
        }
    }
    QVERIFY2(colours.size() > 20, qPrintable(name + QStringLiteral(" looks blank")));
    QDir().mkpath(QStringLiteral(HELP_GALLERY_DIR));
    QVERIFY(image.save(QStringLiteral(HELP_GALLERY_DIR "/%1.png").arg(name)));
}

} // namespace

class HelpPagesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setStyle(QStringLiteral("Fusion")); }

    // The guide's texts: every title in order, no macOS-only names, and the shortcut tip names the keys
    // of the default shortcuts as this desktop shows them.
    void guideTexts() {
        const QList<GuideRules::Card> cards = GuideRules::cards();
        QStringList titles;
        QStringList everything;
        for (const GuideRules::Card& card : cards) {
            titles << card.title;
            everything << card.title << card.body;
            for (const GuideRules::Tip& tip : card.tips) {
                titles << tip.title;
                everything << tip.title << tip.body;
            }
        }
        QCOMPARE(titles,
                 (QStringList{"How Quillvane works", "1. Standard dictation", "2. AI Mode", "3. Typing Mode",
                              "4. Dictionary", "5. Snippets", "6. Style and formatting", "7. Permissions",
                              "Which mode should you use?", "Use Dictation when...", "Use AI Mode when...",
                              "Use Typing Mode when...", "Best setup tips", "Choose the right model",
                              "Keep your Knowledge Base current", "Tune shortcuts early"}));
        QCOMPARE(cards[1].body, QStringLiteral("Most people only need three workflows day to day."));
        for (const QString& text : std::as_const(everything)) {
            for (const char* foreign : {"macOS", "Fn", "Safari", "System Settings", "Control", "\u2026"}) {
                QVERIFY2(!text.contains(QString::fromUtf8(foreign)), qPrintable(text));
            }
        }
        const QString shortcuts = cards[2].tips[2].body;
        QCOMPARE(shortcuts,
                 QStringLiteral("Your default dictation shortcut is Right Ctrl and AI Mode uses Ctrl + "
                                "Right Ctrl. If those conflict with your workflow, change them in "
                                "Settings."));
        QVERIFY(shortcuts.contains(AppSettings::defaultHotkey().displayString() + " and AI Mode uses " +
                                   AppSettings::defaultSmartEditHotkey().displayString() + "."));
        const QString permissions = cards[0].tips[6].body;
        for (const char* facility : {"X11", "XTest", "accessibility", "sound settings", "microphone"}) {
            QVERIFY2(permissions.contains(QLatin1String(facility)), facility);
        }
    }

    // The page shows the header and every text of the table, in order, the long ones wrapping.
    void guidePageShowsTheTable() {
        GuidePage page;
        page.resize(600, 2000);
        page.show();
        QCOMPARE(page.findChild<QLabel*>(QStringLiteral("pageTitle"))->text(), QStringLiteral("Guide"));
        QCOMPARE(page.findChildren<SurfaceCard*>().size(), 3);
        QStringList expected{QStringLiteral("Guide")};
        for (const GuideRules::Card& card : GuideRules::cards()) {
            expected << card.title << card.body;
            for (const GuideRules::Tip& tip : card.tips) {
                expected << tip.title << tip.body;
            }
        }
        QCOMPARE(labelTexts(page), expected);
        for (QLabel* body : page.findChildren<QLabel*>(QStringLiteral("guideTipBody"))) {
            QVERIFY(body->wordWrap());
            QCOMPARE(body->textFormat(), Qt::PlainText);
        }
    }

    // Each outcome of the first load: status sentence, rows (with a divider between two rows), the
    // empty-list text and the log line.
    void loadOutcomes_data() {
        QTest::addColumn<int>("count"); // -1: the fetch fails with `error`
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("none") << 0 << QString() << "No tutorials are available right now."
                              << "INFO Loaded tutorials count=0";
        QTest::newRow("one") << 1 << QString() << "Loaded 1 tutorials."
                             << "INFO Loaded tutorials count=1";
        QTest::newRow("three") << 3 << QString() << "Loaded 3 tutorials."
                               << "INFO Loaded tutorials count=3";
        QTest::newRow("http error") << -1 << "http" << TutorialsRules::kLoadFailedStatus
                                    << "ERROR Failed to load tutorials: Backend error 500: boom";
        QTest::newRow("transport error") << -1 << "transport" << TutorialsRules::kLoadFailedStatus
                                         << "ERROR Failed to load tutorials: Connection refused";
        QTest::newRow("no backend") << -1 << "none" << TutorialsRules::kLoadFailedStatus
                                    << "ERROR Failed to load tutorials: The backend is not reachable.";
    }
    void loadOutcomes() {
        QFETCH(int, count);
        QFETCH(QString, error);
        QFETCH(QString, status);
        QFETCH(QString, logLine);
        TutorialsRig rig;
        rig.make(error == "none" ? TutorialsLoader::Fetch{} : rig.fetches.fetch());
        rig.show();
        if (error != "none") {
            QCOMPARE(rig.fetches.gates.size(), 1);
            QCOMPARE(rig.cardSentences(), QStringList{"Loading tutorials..."});
            if (error == "http") {
                rig.fetches.gates[0]->fail(
                    std::make_exception_ptr(BackendClientError::httpError(500, QStringLiteral("boom"))));
            } else if (error == "transport") {
                rig.fetches.gates[0]->fail(std::make_exception_ptr(BackendTransportError(
                    QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused"), false)));
            } else {
                rig.fetches.gates[0]->finish(tutorials(count));
            }
            QCoreApplication::processEvents();
        }
        QCOMPARE(rig.cardSentences(), QStringList{status});
        QCOMPARE(rig.state->tutorialsStatusText(), status);
        QCOMPARE(TutorialsRig::loadLines(), QStringList{logLine});
        const int rows = qMax(count, 0);
        QCOMPARE(rig.state->tutorials().size(), rows);
        QStringList titles;
        for (const TutorialItemDTO& item : tutorials(rows)) {
            titles << item.title;
        }
        QCOMPARE(rig.titles(), titles);
        QCOMPARE(rig.dividers(), qMax(rows - 1, 0));
        QCOMPARE(labelTexts(*rig.page, QStringLiteral("tutorialDescription")).size(), rows);
        if (rows > 0) {
            QCOMPARE(labelTexts(*rig.page, QStringLiteral("tutorialDescription")).last(),
                     QStringLiteral("About t%1").arg(rows - 1));
        }
        for (const char* name : {"tutorialWatchButton", "tutorialCopyButton"}) {
            const auto buttons = visibleChildren<QPushButton>(*rig.page, QLatin1String(name));
            QCOMPARE(buttons.size(), rows);
            for (QPushButton* button : buttons) {
                QCOMPARE(button->text(), QLatin1String(name) == QLatin1String("tutorialWatchButton")
                                             ? QStringLiteral("Watch on YouTube")
                                             : QStringLiteral("Copy Link"));
            }
        }
    }

    // After a failure Reload can bring the list; a failed Reload keeps the list shown before and says
    // it could not be refreshed.
    void reloadAfterFailureAndFailingReload() {
        TutorialsRig rig;
        rig.make();
        rig.show();
        rig.fetches.gates[0]->fail(std::make_exception_ptr(BackendClientError::decodingFailed()));
        QCoreApplication::processEvents();
        QCOMPARE(rig.cardSentences(), QStringList{TutorialsRules::kLoadFailedStatus});
        QVERIFY(!rig.status().contains(QLatin1String("fallback")));

        rig.reload();
        QCOMPARE(rig.fetches.gates.size(), 2);
        QCOMPARE(rig.status(), QStringLiteral("Loading tutorials..."));
        rig.fetches.gates[1]->finish(tutorials(3));
        QCoreApplication::processEvents();
        QCOMPARE(rig.cardSentences(), QStringList{"Loaded 3 tutorials."});
        QCOMPARE(rig.titles().size(), 3);

        rig.reload();
        // While the reload runs the old list stays.
        QCOMPARE(rig.titles().size(), 3);
        rig.fetches.gates[2]->fail(std::make_exception_ptr(BackendClientError::invalidBaseURL()));
        QCoreApplication::processEvents();
        QCOMPARE(rig.cardSentences(), QStringList{TutorialsRules::kRefreshFailedStatus});
        QCOMPARE(rig.titles(), (QStringList{"Title t0", "Title t1", "Title t2"}));
        QCOMPARE(rig.state->tutorials().size(), 3);
        QCOMPARE(rig.dividers(), 2);

        // A later good answer replaces the list; an empty one empties it.
        rig.reload();
        rig.fetches.gates[3]->finish({});
        QCoreApplication::processEvents();
        QCOMPARE(rig.cardSentences(), QStringList{"No tutorials are available right now."});
        QVERIFY(rig.titles().isEmpty());
        QCOMPARE(TutorialsRig::loadLines(),
                 (QStringList{"ERROR Failed to load tutorials: Failed to decode backend response.",
                              "INFO Loaded tutorials count=3",
                              "ERROR Failed to load tutorials: Backend URL is invalid.",
                              "INFO Loaded tutorials count=0"}));
    }

    // "Copy Link" copies the link as it is and reads "Copied" for a moment.
    void copyLinkIsConfirmedForAMoment() {
        ManualTime time;
        TutorialsRig rig;
        rig.state->setTutorials({tutorial(QStringLiteral("a"), QStringLiteral("not a link"))});
        rig.make();
        rig.show();
        QPushButton* copy =
            visibleChildren<QPushButton>(*rig.page, QStringLiteral("tutorialCopyButton")).at(0);
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("not a link"));
        QCOMPARE(copy->text(), QStringLiteral("Copied"));
        time.scheduler.advance(std::chrono::milliseconds(1000));
        copy->click();
        time.scheduler.advance(std::chrono::milliseconds(1000));
        QCOMPARE(copy->text(), QStringLiteral("Copied"));
        time.scheduler.advance(std::chrono::milliseconds(500));
        QCOMPARE(copy->text(), QStringLiteral("Copy Link"));
        // A row gone before its moment ends is left alone.
        copy->click();
        rig.state->setTutorials({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        time.scheduler.advance(std::chrono::seconds(2));
    }

    // The page's first load and a Reload overlap: whichever finishes last, only the Reload's outcome
    // is applied and logged.
    void overlappingLoadsApplyOnlyTheNewest_data() {
        QTest::addColumn<bool>("olderFinishesFirst");
        QTest::addColumn<bool>("olderFails");
        QTest::newRow("newer first, older succeeds") << false << false;
        QTest::newRow("newer first, older fails") << false << true;
        QTest::newRow("older first, succeeds") << true << false;
        QTest::newRow("older first, fails") << true << true;
    }
    void overlappingLoadsApplyOnlyTheNewest() {
        QFETCH(bool, olderFinishesFirst);
        QFETCH(bool, olderFails);
        TutorialsRig rig;
        rig.make();
        rig.show();
        rig.reload();
        QCOMPARE(rig.fetches.gates.size(), 2);
        auto finishOlder = [&] {
            if (olderFails) {
                rig.fetches.gates[0]->fail(std::make_exception_ptr(BackendClientError::invalidResponse()));
            } else {
                rig.fetches.gates[0]->finish(tutorials(3, QStringLiteral("old")));
            }
            QCoreApplication::processEvents();
        };
        if (olderFinishesFirst) {
            finishOlder();
            QCOMPARE(rig.status(), QStringLiteral("Loading tutorials..."));
            QVERIFY(rig.titles().isEmpty());
        }
        rig.fetches.gates[1]->finish(tutorials(1, QStringLiteral("new")));
        QCoreApplication::processEvents();
        if (!olderFinishesFirst) {
            finishOlder();
        }
        QCOMPARE(rig.status(), QStringLiteral("Loaded 1 tutorials."));
        QCOMPARE(rig.titles(), QStringList{"Title new0"});
        QCOMPARE(rig.state->tutorials().size(), 1);
        QCOMPARE(TutorialsRig::loadLines(), QStringList{"INFO Loaded tutorials count=1"});
    }

    // A load that finishes after the page (and the dashboard state) are gone changes and logs nothing.
    void loadFinishingAfterThePageIsGone() {
        TutorialsRig rig;
        rig.make();
        rig.show();
        rig.page.reset();
        rig.fetches.gates[0]->finish(tutorials(2));
        QCoreApplication::processEvents();
        QCOMPARE(rig.state->tutorialsStatusText(), QStringLiteral("Loading tutorials..."));
        QVERIFY(rig.state->tutorials().isEmpty());

        rig.make();
        rig.show();
        QCOMPARE(rig.fetches.gates.size(), 2);
        rig.page.reset();
        rig.state.reset();
        rig.fetches.gates[1]->fail(std::make_exception_ptr(BackendClientError::invalidResponse()));
        QCoreApplication::processEvents();
        QVERIFY(TutorialsRig::loadLines().isEmpty());
    }

    // Shown again, the page keeps a list it has and fetches only when its list is empty.
    void showingAgainFetchesOnlyAnEmptyList() {
        TutorialsRig rig;
        rig.make();
        rig.show();
        rig.fetches.gates[0]->finish(tutorials(2));
        QCoreApplication::processEvents();
        rig.page->hide();
        rig.show();
        QCOMPARE(rig.fetches.gates.size(), 1);
        QCOMPARE(rig.titles().size(), 2);

        rig.reload();
        rig.fetches.gates[1]->finish({});
        QCoreApplication::processEvents();
        rig.page->hide();
        rig.show();
        QCOMPARE(rig.fetches.gates.size(), 3);
    }

    // "Watch on YouTube" opens web links only; everything else is logged as not opened.
    void watchOpensOnlyWebLinks_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("opened"); // empty: not opened
        QTest::newRow("https") << "https://example.com/watch?v=abc"
                               << "https://example.com/watch?v=abc";
        QTest::newRow("http with port") << "http://127.0.0.1:8080/t"
                                        << "http://127.0.0.1:8080/t";
        QTest::newRow("upper-case scheme") << "HTTPS://Example.com/Path"
                                           << "https://example.com/Path";
        QTest::newRow("file") << "file:///etc/passwd" << QString();
        QTest::newRow("file with host") << "file://localhost/etc/passwd" << QString();
        QTest::newRow("javascript") << "javascript:alert(1)" << QString();
        QTest::newRow("custom scheme") << "quillvane://open/settings" << QString();
        QTest::newRow("ftp") << "ftp://example.com/video" << QString();
        QTest::newRow("no host") << "https:///path" << QString();
        QTest::newRow("relative") << "/tutorials/first" << QString();
        QTest::newRow("scheme-relative") << "//example.com/video" << QString();
        QTest::newRow("empty") << "" << QString();
        QTest::newRow("space in host") << "http://exa mple.com/" << QString();
        QTest::newRow("broken address") << "https://[::1/video" << QString();
    }
    void watchOpensOnlyWebLinks() {
        QFETCH(QString, url);
        QFETCH(QString, opened);
        TutorialsRig rig;
        const TutorialItemDTO first = tutorial(QStringLiteral("a"));
        const TutorialItemDTO second{QStringLiteral("b"), QStringLiteral("Title b"),
                                     QStringLiteral("About b"), url};
        rig.state->setTutorials({first, second});
        rig.make();
        rig.show();
        QVERIFY(rig.fetches.gates.isEmpty());
        visibleChildren<QPushButton>(*rig.page, QStringLiteral("tutorialWatchButton")).at(1)->click();
        if (opened.isEmpty()) {
            QVERIFY(rig.opened.isEmpty());
            QCOMPARE(RuntimeLogCapture::entries(),
                     QStringList{"INFO Did not open tutorial URL: not an http or https link"});
        } else {
            QCOMPARE(rig.opened, QList<QUrl>{QUrl(opened)});
            QCOMPARE(rig.opened[0].toString(), opened);
            QCOMPARE(RuntimeLogCapture::entries(), QStringList{"INFO Opened tutorial URL " + opened});
        }
    }

    // The real client against the stand-in backend: its three tutorials, then a failing Reload.
    void loadsFromTheStandinBackend() {
        standin::StandinBackend backend;
        backend.start();
        BackendClient client(QUrl(QString::fromStdString(backend.baseUrl())));
        TutorialsRig rig;
        rig.make([&client] { return client.getTutorials(); });
        rig.show();
        QTRY_COMPARE(rig.status(), QStringLiteral("Loaded 3 tutorials."));
        QCOMPARE(rig.titles(),
                 (QStringList{"Your first dictation", "Writing e-mails", "Snippets and dictionary"}));
        QCOMPARE(rig.state->tutorials().first().url,
                 QStringLiteral("https://example.invalid/tutorials/first-dictation"));
        QCOMPARE(rig.dividers(), 2);

        backend.scriptNext("/api/tutorials", {503, "maintenance", "text/plain"});
        rig.reload();
        QTRY_COMPARE(rig.status(), TutorialsRules::kRefreshFailedStatus);
        QCOMPARE(rig.titles().size(), 3);
        QCOMPARE(TutorialsRig::loadLines(),
                 (QStringList{"INFO Loaded tutorials count=3",
                              "ERROR Failed to load tutorials: Backend error 503: maintenance"}));
        QCOMPARE(backend.received().size(), 2u);
    }

    // Pictures for people: the guide, the tutorials page after a failed load, and with three rows.
    void pictures() {
        GuidePage guide;
        savePicture(guide, QStringLiteral("guide"));

        {
            TutorialsRig failed; // no backend: the shown page's load fails at once
            failed.make(TutorialsLoader::Fetch{});
            savePicture(*failed.page, QStringLiteral("tutorials-failed"));
            QCOMPARE(failed.status(), TutorialsRules::kLoadFailedStatus);
        }

        TutorialsRig rig;
        rig.state->setTutorials(
            {TutorialItemDTO{"first", "Your first dictation",
                             "Hold the shortcut, speak, and let go to insert the text where your cursor is.",
                             "https://example.invalid/first"},
             TutorialItemDTO{"ai", "Rewrite with AI Mode",
                             "Select a paragraph, hold the AI Mode shortcut and say how it should change.",
                             "https://example.invalid/ai"},
             TutorialItemDTO{"kb", "Snippets and dictionary",
                             "Teach Quillvane your own phrases and spellings.",
                             "https://example.invalid/kb"}});
        rig.state->setTutorialsStatusText(QStringLiteral("Loaded 3 tutorials."));
        rig.make();
        savePicture(*rig.page, QStringLiteral("tutorials"));
        QVERIFY(rig.fetches.gates.isEmpty());
    }
};

QTEST_MAIN(HelpPagesTest)
#include "tst_help_pages.moc"
