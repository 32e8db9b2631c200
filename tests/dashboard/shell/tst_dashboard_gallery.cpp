// Pictures of the dashboard in its key states, for people to look at (offscreen, Fusion, the packaged
// fonts, en_US, UTC, a fixed clock). Each picture is only checked for not being blank.

#include "DashboardRig.h"
#include "NoticeFakes.h"

#include <QApplication>
#include <QDir>
#include <QSet>
#include <QTest>

namespace {
QString galleryFolder() {
    const QString folder = qEnvironmentVariableIsSet("QUILLVANE_GALLERY_DIR")
                               ? qEnvironmentVariable("QUILLVANE_GALLERY_DIR")
                               : QStringLiteral(DASHBOARD_GALLERY_DIR);
    QDir().mkpath(folder);
    return folder;
}

void fillHistory(DashboardRig& rig) {
    const QList<std::pair<QString, QString>> samples{
        {QStringLiteral(
             "Let's move the design review to Thursday at 3 pm and invite the whole platform team."),
         QStringLiteral("Tidewell")},
        {QStringLiteral("Rewrite this paragraph so it sounds friendlier."), QStringLiteral("AI Mode")},
        {QStringLiteral("Groceries: oat milk, two lemons, basil, sourdough."), QStringLiteral("Voice Note")},
        {QStringLiteral(
             "The quarterly numbers look good; revenue is up eleven percent over last year, driven "
             "mostly by the new subscription tier and lower churn in Europe."),
         QStringLiteral("Keystoner Deck")},
        {QStringLiteral("Thanks, that works for me."), QStringLiteral("Zephyrix")},
    };
    // From the evening before: the card shows two days.
    rig.dictation.time.clock.setNow(QDateTime(QDate(2025, 12, 31), QTime(21, 0), Qt::UTC));
    for (int i = 0; i < 14; ++i) {
        const auto& [text, provider] = samples[i % samples.size()];
        rig.dictation.time.clock.advance(std::chrono::minutes(37));
        rig.history.addEntry(text, provider, i % 3 ? QStringLiteral("Kate (CODE) - notes.txt") : QString(),
                             4.2);
    }
    rig.dictation.time.clock.advance(std::chrono::minutes(3));
}

void save(QWidget& view, const QString& name) {
    view.show();
    QApplication::processEvents();
    const QImage image = view.grab().toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            colours.insert(image.pixel(x, y));
        }
    }
    QVERIFY2(colours.size() > 20, qPrintable(name + QStringLiteral(" looks blank")));
    const QString path = QDir(galleryFolder()).filePath(name + QStringLiteral(".png"));
    QVERIFY(image.save(path));
    qInfo("wrote %s", qPrintable(path));
}
} // namespace

class TestDashboardGallery : public QObject {
    Q_OBJECT

private slots:
    void signedOut() {
        DashboardRig rig;
        rig.account.microsoftAvailable = false;
        DashboardView& view = rig.makeView({1100, 760});
        save(view, QStringLiteral("dashboard-signed-out"));
    }

    void signedInWide() {
        DashboardRig rig;
        rig.signIn(QStringLiteral("google"), QStringLiteral("Ada Lovelace"),
                   QStringLiteral("ada@example.org"), 48210, 412.5);
        fillHistory(rig);
        rig.dictation.shortcuts.press();
        rig.dictation.runScheduled();
        rig.dictation.shortcuts.release();
        rig.dictation.coordinator.publishFailure(QStringLiteral(
            "Retry failed: the backend did not answer in time. Check your connection, then retry."));
        DashboardView& view = rig.makeView({1400, 1300});
        save(view, QStringLiteral("dashboard-signed-in-wide"));
    }

    void signedInNarrow() {
        DashboardRig rig;
        rig.signIn(QStringLiteral("apple"), std::nullopt, QStringLiteral("x1@privaterelay.appleid.com"),
                   999999, 59);
        fillHistory(rig);
        DashboardView& view = rig.makeView({760, 1100});
        save(view, QStringLiteral("dashboard-signed-in-narrow"));
    }

    // The smallest view: a long sign-in failure under the buttons, cut to the notice's lines.
    void signInFailedSmallest() {
        DashboardRig rig;
        rig.account.microsoftAvailable = false;
        rig.auth.beginAuth(QStringLiteral("Google"));
        rig.auth.fail(QStringLiteral(
            "Google sign-in failed: port 53682 is in use by another program, so the browser could not hand "
            "the sign-in back. Close the other program and try again."));
        DashboardView& view = rig.makeView(DashboardView::kMinimumSize);
        save(view, QStringLiteral("dashboard-sign-in-failed-smallest"));
    }

    // Each page at the window's smallest and default sizes, with some content.
    void pages_data() {
        QTest::addColumn<int>("section");
        QTest::addColumn<QSize>("size");
        for (const AppSection section :
             {AppSection::Home, AppSection::Dictionary, AppSection::Snippets, AppSection::Notes,
              AppSection::Guide, AppSection::Settings, AppSection::Tutorials}) {
            for (const auto& [name, size] : {std::pair{"smallest", DashboardView::kMinimumSize},
                                             std::pair{"default", DashboardView::kDefaultSize}}) {
                const QString row = AppSections::toRaw(section) + QLatin1Char('-') + QLatin1String(name);
                QTest::newRow(qPrintable(row)) << int(section) << size;
            }
        }
    }
    void pages() {
        QFETCH(int, section);
        QFETCH(QSize, size);
        DashboardRig rig;
        fillHistory(rig);
        for (const char* term : {"Quillvane", "Kubernetes", "PostgreSQL", "Nguyen"}) {
            rig.knowledgeBase.createDictionaryTerm(QString::fromLatin1(term),
                                                   QStringLiteral("Spelled as written"));
        }
        rig.knowledgeBase.createSnippet(QStringLiteral("my address"),
                                        QStringLiteral("1 Main St, Springfield"));
        rig.knowledgeBase.createSnippet(QStringLiteral("sign off"), QStringLiteral("Best regards,\nAda"));
        // Long texts: they end in "…" instead of widening the page.
        rig.knowledgeBase.createDictionaryTerm(
            QStringLiteral("Pneumonoultramicroscopicsilicovolcanoconiosis-Kubernetes-PostgreSQL-Nguyen"),
            QStringLiteral("A very long term that must not push the edit and delete buttons off the page"));
        rig.knowledgeBase.createSnippet(
            QStringLiteral("the standard reply to a request for a refund after the thirty days"),
            QStringLiteral(
                "Thank you for getting in touch. Unfortunately we can only refund purchases within "
                "thirty days, but we would be glad to offer you a credit instead."));
        for (const auto& [title, body] :
             {std::pair{"Standup", "Yesterday: shipped the geometry check.\nToday: notes layout."},
              std::pair{"Groceries",
                        "Oat milk, two lemons, basil, sourdough, coffee beans and a very long list "
                        "of other things that goes on for a while"},
              std::pair{"A note whose title is far too long to fit the list of notes in one line", ""}}) {
            rig.notes.createNote(QString::fromUtf8(title), QString::fromUtf8(body),
                                 rig.dictation.time.clock.now());
        }
        DashboardView& view = rig.makeView(size);
        view.state().setSelectedSection(AppSection(section));
        const QString name = QStringLiteral("page-%1").arg(QString::fromLatin1(QTest::currentDataTag()));
        save(view, name);
        // The whole page at that width, past the window's bottom edge too.
        const QImage page = view.currentPage()->grab().toImage();
        QVERIFY(page.save(QDir(galleryFolder()).filePath(name + QStringLiteral("-whole.png"))));
    }

    // A failed cloud sync at the top of the dictionary and settings pages, the settings page also with
    // launch at login registered from a build tree and "Check for Updates…".
    void syncFailed_data() {
        QTest::addColumn<int>("section");
        QTest::addColumn<QSize>("size");
        for (const AppSection section : {AppSection::Dictionary, AppSection::Settings}) {
            for (const auto& [name, size] :
                 {std::pair{"smallest", QSize(720, 480)}, std::pair{"default", QSize(960, 640)}}) {
                const QString row = AppSections::toRaw(section) + QLatin1Char('-') + QLatin1String(name);
                QTest::newRow(qPrintable(row)) << int(section) << size;
            }
        }
    }
    void syncFailed() {
        QFETCH(int, section);
        QFETCH(QSize, size);
        DashboardRig rig;
        FakeSyncFailures failures;
        failures.text = QStringLiteral("Knowledge Base save failed: Connection refused");
        failures.advice = QStringLiteral("Check your internet connection. Your changes are kept on this "
                                         "computer and sync once Quillvane reaches the server again.");
        FakeLaunchAtLogin launch;
        launch.enabled = true;
        launch.target = QStringLiteral("Starts /home/ada/src/quillvane/build/bin/quillvane, not an installed "
                                       "copy of Quillvane.");
        rig.services.syncFailures = &failures;
        rig.services.launchAtLogin = &launch;
        rig.services.checkForUpdates = [] {};
        rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Quillvane"),
                                               QStringLiteral("Spelled as written"));
        DashboardView& view = rig.makeView(size);
        view.state().setSelectedSection(AppSection(section));
        const QString name =
            QStringLiteral("sync-failed-%1").arg(QString::fromLatin1(QTest::currentDataTag()));
        save(view, name);
        const QImage page = view.currentPage()->grab().toImage();
        QVERIFY(page.save(QDir(galleryFolder()).filePath(name + QStringLiteral("-whole.png"))));
    }

    // A row just copied: "Copied" beside its button.
    void copiedRow() {
        DashboardRig rig;
        fillHistory(rig);
        DashboardView& view = rig.makeView(DashboardView::kDefaultSize);
        view.show();
        QApplication::processEvents();
        QWidget* row = view.findChildren<QWidget*>(QStringLiteral("historyRow")).value(0);
        QVERIFY(row);
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(row->width() / 2, row->height() - 4));
        save(*view.currentPage(), QStringLiteral("history-copied"));
        // The pointer on the newest row's copy button: its label above the button.
        view.state().setHoveredHistoryID(rig.history.entries().first().id);
        save(view, QStringLiteral("history-hover"));
    }

    // The custom prompt sheet in the smallest window: centred, its buttons in view.
    void customPromptSmallest() {
        DashboardRig rig;
        DashboardView& view = rig.makeView(DashboardView::kMinimumSize);
        view.state().setSelectedSection(AppSection::Settings);
        view.state().setShowCustomPromptEditor(true);
        save(view, QStringLiteral("custom-prompt-smallest"));
    }

    // The standard controls in the dashboard's look: text fields, a note being written, the sheets.
    void controls_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"dictionary-editor", "note-open", "custom-prompt", "reset-confirmation"}) {
            QTest::newRow(name) << QString::fromLatin1(name);
        }
    }
    void controls() {
        QFETCH(QString, name);
        DashboardRig rig;
        rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Quillvane"),
                                               QStringLiteral("Spelled as written"));
        const NoteEntry note =
            rig.notes.createNote(QStringLiteral("Standup"), QStringLiteral("Ship the release notes today."),
                                 rig.dictation.time.clock.now());
        DashboardView& view = rig.makeView({960, 640});
        DashboardState& state = view.state();
        if (name == QLatin1String("dictionary-editor")) {
            state.setSelectedSection(AppSection::Dictionary);
            state.setDictionaryDraftTerm(QStringLiteral("Kubernetes"));
            state.setShowDictionaryEditor(true);
        } else if (name == QLatin1String("note-open")) {
            state.setSelectedSection(AppSection::Notes);
            state.setSelectedNoteID(note.id);
        } else if (name == QLatin1String("custom-prompt")) {
            state.setSelectedSection(AppSection::Settings);
            state.setCustomPromptDraft(QStringLiteral("Answer in short sentences."));
            state.setShowCustomPromptEditor(true);
        } else {
            state.setSelectedSection(AppSection::Settings);
            state.setShowResetConfirmation(true);
        }
        save(view, QStringLiteral("controls-") + name);
    }

    void promptOpen() {
        DashboardRig rig;
        fillHistory(rig);
        rig.publishPrompt();
        DashboardView& view = rig.makeView({1100, 760});
        save(view, QStringLiteral("dashboard-sign-in-prompt"));
    }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    TestDashboardGallery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_gallery.moc"
