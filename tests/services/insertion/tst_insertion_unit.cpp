// Pure logic of the frontmost-application context, the copy/paste chord, the typing plan and the clipboard
// restore after a paste (on the offscreen platform, whose clipboard is process-local).

#include "ActiveAppContextService.h"
#include "ClipboardPayload.h"
#include "ClipboardRestorer.h"
#include "EditChord.h"
#include "ManualScheduler.h"
#include "X11Typist.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <map>

using namespace std::chrono_literals;

namespace {
// A window system described by tables.
class FakeWindows : public FrontmostWindowSource {
public:
    std::optional<FrontmostWindow> front;
    std::map<quint64, QString> titles;
    std::map<quint64, quint64> owners;
    std::map<qint64, QList<quint64>> processWindows;

    std::optional<FrontmostWindow> frontmostWindow() override { return front; }
    std::optional<QString> windowTitle(quint64 window) override {
        auto it = titles.find(window);
        return it == titles.end() ? std::nullopt : std::optional<QString>(it->second);
    }
    std::optional<quint64> mainWindow(quint64 window) override {
        auto it = owners.find(window);
        return it == owners.end() ? std::nullopt : std::optional<quint64>(it->second);
    }
    QList<quint64> windowsOfProcess(qint64 pid) override { return processWindows[pid]; }
};

FrontmostWindow window(quint64 id, std::optional<qint64> pid, const QString& instance, const QString& cls) {
    FrontmostWindow w;
    w.windowId = id;
    w.processId = pid;
    if (!instance.isNull()) {
        w.instanceName = instance;
    }
    if (!cls.isNull()) {
        w.windowClass = cls;
    }
    return w;
}

QList<char32_t> scalars(const QString& text) {
    QList<char32_t> result;
    for (uint scalar : text.toUcs4()) {
        result.append(static_cast<char32_t>(scalar));
    }
    return result;
}

using Stroke = X11TypingLayout::Stroke;
using Remaps = std::vector<std::pair<unsigned int, X11TypingLayout::KeySym>>;
} // namespace

Q_DECLARE_METATYPE(std::optional<FrontmostWindow>)

class TestInsertionUnit : public QObject {
    Q_OBJECT

private slots:
    void chordForWindow_data() {
        QTest::addColumn<std::optional<FrontmostWindow>>("front");
        QTest::addColumn<QString>("copy");
        QTest::addColumn<QString>("paste");
        auto row = [](const char* name, const QString& instance, const QString& cls, const char* copy,
                      const char* paste) {
            QTest::newRow(name) << std::optional<FrontmostWindow>(window(1, 10, instance, cls))
                                << QString(copy) << QString(paste);
        };
        row("xterm", "xterm", "XTerm", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("gnome-terminal", "gnome-terminal-server", "Gnome-terminal", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("konsole", "konsole", "konsole", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("kitty", "kitty", "kitty", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("alacritty", "Alacritty", "Alacritty", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("wezterm", "org.wezfurlong.wezterm", "org.wezfurlong.wezterm", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("xfce4-terminal", "xfce4-terminal", "Xfce4-terminal", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("urxvt", "urxvt", "URxvt", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("ghostty", "ghostty", "com.mitchellh.ghostty", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("class only", QString(), "Tilix", "Ctrl+Shift+C", "Ctrl+Shift+V");
        row("firefox", "Navigator", "firefox", "Ctrl+C", "Ctrl+V");
        row("code editor", "code", "Code", "Ctrl+C", "Ctrl+V");
        row("chat", "slack", "Slack", "Ctrl+C", "Ctrl+V");
        row("no class", QString(), QString(), "Ctrl+C", "Ctrl+V");
        QTest::newRow("no window") << std::optional<FrontmostWindow>() << QString("Ctrl+C")
                                   << QString("Ctrl+V");
    }
    void chordForWindow() {
        QFETCH(std::optional<FrontmostWindow>, front);
        QFETCH(QString, copy);
        QFETCH(QString, paste);
        QCOMPARE(EditChord::forWindow(EditAction::Copy, front).text(), copy);
        QCOMPARE(EditChord::forWindow(EditAction::Paste, front).text(), paste);
    }

    void categoryAndDebugLine_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("identifier"); // null: absent
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("category"); // null: none
        QTest::addColumn<QString>("debug");
        QTest::newRow("browser") << "Safari"
                                 << "com.apple.Safari"
                                 << "Inbox"
                                 << "browser"
                                 << "Safari (BROWSER) - Inbox";
        // Categories are tried in one fixed order: browser comes before communication.
        QTest::newRow("order") << "Navigator"
                               << "firefox"
                               << "Slack | general"
                               << "browser"
                               << "Navigator (BROWSER) - Slack | general";
        QTest::newRow("by class only") << "gnome-terminal-server"
                                       << "Gnome-terminal"
                                       << "~/src"
                                       << "terminal"
                                       << "gnome-terminal-server (TERMINAL) - ~/src";
        QTest::newRow("substring") << "keepassxc"
                                   << "KeePassXC"
                                   << "Password vault"
                                   << "office"
                                   << "keepassxc (OFFICE) - Password vault";
        QTest::newRow("first keyword wins") << "thunderbird" << QString() << "Inbox - Mail"
                                            << "communication"
                                            << "thunderbird (COMMUNICATION) - Inbox - Mail";
        QTest::newRow("unknowns") << "Unknown Application" << QString() << "Unknown Window" << QString()
                                  << "Unknown Application (GENERAL) - Unknown Window";
    }
    void categoryAndDebugLine() {
        QFETCH(QString, name);
        QFETCH(QString, identifier);
        QFETCH(QString, title);
        QFETCH(QString, category);
        QFETCH(QString, debug);
        ActiveAppContextService service(std::make_shared<FakeWindows>());
        const auto id = identifier.isNull() ? std::nullopt : std::optional<QString>(identifier);
        const auto detected = service.detectCategory(name, id, title);
        QCOMPARE(detected.value_or(QString()), category);
        QCOMPARE(detected.has_value(), !category.isNull());
        QCOMPARE(ActiveAppContextService::buildDebugDescription(name, detected, title), debug);
        QCOMPARE(service.categoryKeywords.keys().size(), ActiveAppContextService::categoryOrder().size());
    }

    void contextFallbacks_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("appName");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("title");
        QTest::newRow("no window") << "none"
                                   << "Unknown Application" << QString() << "Unknown Window";
        QTest::newRow("focused title trimmed") << "focused"
                                               << "Obsidian"
                                               << "Obsidian"
                                               << "Daily notes";
        QTest::newRow("blank focused title, main window's") << "main"
                                                            << "Obsidian"
                                                            << "Obsidian"
                                                            << "Vault";
        QTest::newRow("any window of the process") << "any"
                                                   << "Obsidian"
                                                   << "Obsidian"
                                                   << "Second";
        QTest::newRow("no title anywhere") << "untitled"
                                           << "Obsidian"
                                           << "Obsidian"
                                           << "Unknown Window";
        QTest::newRow("no class hint") << "noclass"
                                       << "Unknown Application" << QString() << "Daily notes";
    }
    void contextFallbacks() {
        QFETCH(QString, setup);
        QFETCH(QString, appName);
        QFETCH(QString, identifier);
        QFETCH(QString, title);
        auto windows = std::make_shared<FakeWindows>();
        if (setup != "none") {
            windows->front = setup == "noclass" ? window(7, 42, QString(), QString())
                                                : window(7, 42, "obsidian", "Obsidian");
        }
        if (setup == "focused" || setup == "noclass") {
            windows->titles[7] = "  Daily notes \n";
        } else if (setup == "main") {
            windows->titles = {{7, "   "}, {3, " Vault "}};
            windows->owners[7] = 3;
        } else if (setup == "any") {
            windows->titles = {{7, ""}, {8, " "}, {9, "Second"}, {10, "Third"}};
            windows->processWindows[42] = {8, 9, 10};
        }
        ActiveAppContextService service(windows);
        const ActiveAppContext context = service.currentContext();
        QCOMPARE(context.appName, appName);
        QCOMPARE(context.bundleIdentifier.value_or(QString()), identifier);
        QCOMPARE(context.bundleIdentifier.has_value(), !identifier.isNull());
        QCOMPARE(context.windowTitle, title);
        QCOMPARE(context.debugDescription, ActiveAppContextService::buildDebugDescription(
                                               context.appName, context.category, context.windowTitle));
    }

    void keysymsForCharacters() {
        QCOMPARE(X11TypingLayout::keysymForCharacter(U'a'), 0x61UL);
        QCOMPARE(X11TypingLayout::keysymForCharacter(U'é'), 0xe9UL);
        QCOMPARE(X11TypingLayout::keysymForCharacter(U'€'), 0x10020acUL);
        QCOMPARE(X11TypingLayout::keysymForCharacter(U'🎉'), 0x101f389UL);
        QCOMPARE(X11TypingLayout::keysymForCharacter(U'\n'), 0xff0dUL); // Return
        QCOMPARE(X11TypingLayout::characterForKeysym(0x10020ac), std::optional<char32_t>(U'€'));
        QCOMPARE(X11TypingLayout::characterForKeysym(0x20ac), std::optional<char32_t>()); // legacy keysym
    }

    void typingPlan() {
        X11TypingLayout layout;
        layout.addKey(38, 'a', false);
        layout.addKey(38, 'A', true);
        layout.addKey(65, ' ', false);
        layout.addKey(36, 0xff0d, false); // Return
        layout.addKey(23, 0xff09, false); // Tab
        layout.addSpareKeycode(200);
        layout.addSpareKeycode(201);
        layout.addSpareKeycode(202);
        layout.setModifierKeys(50, 37);

        // Five characters the layout lacks, three spare keys: the second run gives new symbols to the keys
        // whose characters come back last (here never: € before ✓), so é keeps its key; CR LF is one Return;
        // other control characters type nothing.
        const auto plan = X11Typist::Plan::make(scalars(QString::fromUtf8("aé A€é\r\n✓\x01ü\t日üé")), layout);
        QVERIFY(!plan.untypableAt);
        QCOMPARE(plan.runs.size(), std::size_t(2));
        QCOMPARE(plan.runs[0].remaps, (Remaps{{200, 0xe9}, {201, 0x10020ac}, {202, 0x1002713}}));
        QVERIFY(!plan.runs[0].reassigns);
        QCOMPARE(plan.runs[0].strokes, (std::vector<Stroke>{{38, false},
                                                            {200, false},
                                                            {65, false},
                                                            {38, true},
                                                            {201, false},
                                                            {200, false},
                                                            {36, false},
                                                            {202, false}}));
        QCOMPARE(plan.runs[1].remaps, (Remaps{{201, 0xfc}, {202, 0x10065e5}}));
        QVERIFY(plan.runs[1].reassigns);
        QCOMPARE(plan.runs[1].strokes,
                 (std::vector<Stroke>{{201, false}, {23, false}, {202, false}, {201, false}, {200, false}}));

        // Keys an earlier typing left mapped are used as they are, and get new symbols after the empty
        // spares.
        X11TypingLayout fewer;
        fewer.addKey(38, 'a', false);
        fewer.addSpareKeycode(210);
        const auto reuse =
            X11Typist::Plan::make(scalars(QString::fromUtf8("é€ß✓")), fewer, {{211, 0xe9}, {212, 0x10020ac}});
        QCOMPARE(reuse.runs.size(), std::size_t(2));
        QCOMPARE(reuse.runs[0].remaps, (Remaps{{210, 0xdf}}));
        QVERIFY(!reuse.runs[0].reassigns);
        QCOMPARE(reuse.runs[0].strokes, (std::vector<Stroke>{{211, false}, {212, false}, {210, false}}));
        QCOMPARE(reuse.runs[1].remaps, (Remaps{{210, 0x1002713}}));
        QVERIFY(reuse.runs[1].reassigns);

        // Without any spare key, typing stops at the first character the layout lacks.
        X11TypingLayout bare;
        bare.addKey(38, 'a', false);
        const auto stopped = X11Typist::Plan::make(scalars(QString::fromUtf8("aaé a")), bare);
        QCOMPARE(stopped.untypableAt, std::optional<qsizetype>(2));
        QCOMPARE(stopped.runs.front().strokes.size(), std::size_t(2));
    }

    // The user's clipboard comes back no earlier than 400 ms after the paste, once the target fetched our
    // text (or after the wait limit), and never over something the user copied meanwhile.
    void restoreAfterPaste_data() {
        QTest::addColumn<int>("fetchAtMs");   // -1: never
        QTest::addColumn<bool>("userCopies"); // the user copies something at 200 ms (after any fetch)
        QTest::addColumn<int>("restoredByMs");
        QTest::addColumn<bool>("restored");
        QTest::newRow("fetched early") << 10 << false << 400 << true;
        QTest::newRow("fetched late") << 1000 << false << 1020 << true;
        QTest::newRow("never fetched") << -1 << false << 3020 << true;
        QTest::newRow("user copied meanwhile") << 10 << true << 400 << false;
    }
    void restoreAfterPaste() {
        QFETCH(int, fetchAtMs);
        QFETCH(bool, userCopies);
        QFETCH(int, restoredByMs);
        QFETCH(bool, restored);
        ManualClock clock;
        ManualScheduler scheduler(clock);
        Clock::setCurrent(&clock);
        Scheduler::setCurrent(&scheduler);
        auto cleanup = qScopeGuard([] {
            Clock::setCurrent(nullptr);
            Scheduler::setCurrent(nullptr);
        });

        QClipboard& clipboard = *QGuiApplication::clipboard();
        ClipboardRestorer restorer(clipboard);
        QSignalSpy finished(&restorer, &ClipboardRestorer::pendingRestoreFinished);
        const auto user =
            ClipboardSnapshot::fromFormats({{"text/plain", "user's text"}, {"text/html", "<b>u</b>"}});
        auto* payload = new ClipboardPayload("dictated");
        clipboard.setMimeData(payload);
        restorer.restoreAfterPaste(user, payload);

        int now = 0;
        auto advanceTo = [&](int ms) {
            scheduler.advance(std::chrono::milliseconds(ms - now));
            now = ms;
        };
        if (fetchAtMs >= 0) {
            advanceTo(fetchAtMs);
            QCOMPARE(payload->data("text/plain"), QByteArray("dictated")); // the target pastes
        }
        if (userCopies) {
            advanceTo(200);
            auto* copied = new QMimeData;
            copied->setText("copied by the user");
            clipboard.setMimeData(copied); // replaces (and deletes) our payload
        }
        advanceTo(std::max(now, restoredByMs - 21));
        QCOMPARE(finished.size(), 0);
        advanceTo(restoredByMs);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), restored);
        QVERIFY(!restorer.hasPendingRestore());
        const QMimeData* now_ = clipboard.mimeData();
        QCOMPARE(now_->text(), restored ? QString("user's text") : QString("copied by the user"));
        if (restored) {
            QCOMPARE(now_->html(), QString("<b>u</b>"));
        }
    }

    // A copy or paste while a restore waits takes the user's snapshot over: the user's text comes back in
    // the end, never the text of the earlier paste.
    void nextOperationTakesPendingRestoreOver() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        Clock::setCurrent(&clock);
        Scheduler::setCurrent(&scheduler);
        auto cleanup = qScopeGuard([] {
            Clock::setCurrent(nullptr);
            Scheduler::setCurrent(nullptr);
        });
        QClipboard& clipboard = *QGuiApplication::clipboard();
        ClipboardRestorer restorer(clipboard);
        auto* first = new ClipboardPayload("first");
        clipboard.setMimeData(first);
        restorer.restoreAfterPaste(ClipboardSnapshot::fromFormats({{"text/plain", "user's text"}}), first);
        scheduler.advance(100ms);

        const ClipboardSnapshot taken = restorer.takeUserClipboard();
        QCOMPARE(taken.text(), std::optional<QString>("user's text"));
        QVERIFY(!restorer.hasPendingRestore());
        scheduler.advance(5s);
        QCOMPARE(clipboard.mimeData()->text(), QString("first")); // the called-off restore did nothing
    }
};

QTEST_MAIN(TestInsertionUnit)
#include "tst_insertion_unit.moc"
