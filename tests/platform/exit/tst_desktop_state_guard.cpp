// The desktop state guard's bookkeeping (order, once only, release, holds from other threads, undo
// actions that fail or touch the guard), the clipboard restorer's hold, and the termination signals
// turned into Qt signals.

#include "ClipboardPayload.h"
#include "ClipboardRestorer.h"
#include "Clock.h"
#include "DesktopStateGuard.h"
#include "ManualScheduler.h"
#include "SupportLog.h"
#include "linux/TerminationSignals.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <stdexcept>
#include <thread>
#include <vector>

using Needs = DesktopStateGuard::Needs;

class TestDesktopStateGuard : public QObject {
    Q_OBJECT

private slots:
    // What needs no X comes back first (it must work when the X server is gone), newest first in each
    // group; without the display only that group runs and the rest waits for a later undoAll.
    void undoOrder() {
        DesktopStateGuard guard;
        QStringList ran;
        auto record = [&ran](const char* name) { return [&ran, name] { ran << QString::fromLatin1(name); }; };
        auto keys = guard.hold(QStringLiteral("keys"), Needs::Display, record("keys"));
        auto mute = guard.hold(QStringLiteral("mute"), Needs::Nothing, record("mute"));
        auto clipboard = guard.hold(QStringLiteral("clipboard"), Needs::Display, record("clipboard"));
        auto source = guard.hold(QStringLiteral("source"), Needs::Nothing, record("source"));
        QCOMPARE(guard.held(), QStringList({"keys", "mute", "clipboard", "source"}));
        // Work still under way learns that the process is leaving before anything is put back.
        auto leaving = guard.hold(QStringLiteral("leaving"), Needs::Nothing,
                                  [&ran, &guard] { ran << (guard.isLeaving() ? "leaving" : "staying"); });
        ran.clear();
        QVERIFY(!guard.isLeaving());

        guard.undoWithoutDisplay();
        QVERIFY(guard.isLeaving());
        QCOMPARE(ran.takeFirst(), QStringLiteral("leaving"));
        QCOMPARE(ran, QStringList({"source", "mute"}));
        QCOMPARE(guard.held(), QStringList({"keys", "clipboard"}));
        QVERIFY(!mute.isHeld());
        QVERIFY(keys.isHeld());

        guard.undoAll();
        QCOMPARE(ran, QStringList({"source", "mute", "clipboard", "keys"}));
        QVERIFY(guard.held().isEmpty());
        guard.undoAll();
        QCOMPARE(ran.size(), 4); // each undo runs once
    }

    // A service that put its state back itself drops its hold: explicitly, by destroying the Hold, or by
    // assigning a new one over it. A moved Hold keeps the registration.
    void droppedHoldsAreNotUndone() {
        DesktopStateGuard guard;
        QStringList ran;
        auto record = [&ran](const char* name) { return [&ran, name] { ran << QString::fromLatin1(name); }; };
        auto released = guard.hold(QStringLiteral("released"), Needs::Nothing, record("released"));
        released.release();
        released.release(); // twice is harmless
        { auto scoped = guard.hold(QStringLiteral("scoped"), Needs::Nothing, record("scoped")); }
        auto replaced = guard.hold(QStringLiteral("first"), Needs::Nothing, record("first"));
        replaced = guard.hold(QStringLiteral("second"), Needs::Nothing, record("second"));
        DesktopStateGuard::Hold moved;
        {
            auto original = guard.hold(QStringLiteral("moved"), Needs::Display, record("moved"));
            moved = std::move(original);
            QVERIFY(!original.isHeld());
        } // the moved-from Hold releases nothing
        QCOMPARE(guard.held(), QStringList({"second", "moved"}));

        guard.undoAll();
        QCOMPARE(ran, QStringList({"second", "moved"}));
        moved.release(); // after its undo ran: nothing happens
        QVERIFY(guard.held().isEmpty());
    }

    // An undo runs without the guard's lock: it may drop another hold (that one then does not run), take
    // a new one (which runs in the same pass), and a failing undo does not stop the others.
    void undoActionsMayUseTheGuardAndFail() {
        static QStringList errors;
        errors.clear();
        SupportLog::setSinks({nullptr, [](const QString& line) { errors << line; }, nullptr});
        const auto restoreSinks = qScopeGuard([] { SupportLog::setSinks({}); });
        DesktopStateGuard guard;
        QStringList ran;
        DesktopStateGuard::Hold late;
        auto other = guard.hold(QStringLiteral("other"), Needs::Nothing, [&ran] { ran << "other"; });
        auto failing = guard.hold(QStringLiteral("volume"), Needs::Nothing, [&ran] {
            ran << "volume";
            throw std::runtime_error("server gone");
        });
        auto dropping = guard.hold(QStringLiteral("dropping"), Needs::Nothing, [&] {
            ran << "dropping";
            other.release();
            late = guard.hold(QStringLiteral("late"), Needs::Nothing, [&ran] { ran << "late"; });
        });
        guard.undoAll();
        QCOMPARE(ran, QStringList({"dropping", "late", "volume"}));
        QVERIFY(guard.held().isEmpty());
        QVERIFY2(errors.contains(QStringLiteral("Failed to restore volume: server gone")),
                 qPrintable(errors.join('\n')));
    }

    // Worker threads take and drop holds while the main thread undoes: every hold still registered at
    // the end runs exactly once, and none that was dropped runs.
    void holdsFromManyThreads() {
        DesktopStateGuard guard;
        constexpr int kThreads = 6;
        constexpr int kRounds = 300;
        std::vector<std::vector<int>> runs(kThreads);
        std::vector<DesktopStateGuard::Hold> kept(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round) {
                    auto hold = guard.hold(QStringLiteral("round"), Needs::Nothing,
                                           [&runs, t, round] { runs[t].push_back(round); });
                    if (round == kRounds - 1) {
                        kept[t] = std::move(hold);
                    }
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        guard.undoAll();
        for (int t = 0; t < kThreads; ++t) {
            QCOMPARE(runs[t], std::vector<int>{kRounds - 1});
        }
    }

    // A paste whose restore still waits when the application quits: the user's clipboard comes back at
    // once while the clipboard still serves our text, and what the user copied meanwhile stays.
    void aWaitingClipboardRestoreEndsOnExit_data() {
        QTest::addColumn<bool>("userCopies");
        QTest::addColumn<QString>("expected");
        QTest::newRow("still ours") << false << QStringLiteral("user's text");
        QTest::newRow("user copied meanwhile") << true << QStringLiteral("copied by the user");
    }
    void aWaitingClipboardRestoreEndsOnExit() {
        QFETCH(bool, userCopies);
        QFETCH(QString, expected);
        ManualClock clock;
        ManualScheduler scheduler(clock);
        Clock::setCurrent(&clock);
        Scheduler::setCurrent(&scheduler);
        auto resetTime = qScopeGuard([] {
            Clock::setCurrent(nullptr);
            Scheduler::setCurrent(nullptr);
        });
        DesktopStateGuard& guard = DesktopStateGuard::instance();
        QClipboard& clipboard = *QGuiApplication::clipboard();
        ClipboardRestorer restorer(clipboard);
        auto* payload = new ClipboardPayload(QStringLiteral("dictated"));
        clipboard.setMimeData(payload);
        restorer.restoreAfterPaste(ClipboardSnapshot::fromFormats({{"text/plain", "user's text"}}), payload);
        QCOMPARE(guard.held(), QStringList{QStringLiteral("clipboard restore")});
        if (userCopies) {
            auto* copied = new QMimeData;
            copied->setText(QStringLiteral("copied by the user"));
            clipboard.setMimeData(copied);
        }

        guard.undoAll();
        QVERIFY(!restorer.hasPendingRestore());
        QCOMPARE(clipboard.mimeData()->text(), expected);
        QVERIFY(guard.held().isEmpty());
        scheduler.advance(std::chrono::seconds(5)); // the called-off wait does nothing later
        QCOMPARE(clipboard.mimeData()->text(), expected);
    }

    void terminationSignalsArriveOnTheMainThread_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("name");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("SIGTERM");
        QTest::newRow("SIGINT") << int(SIGINT) << QStringLiteral("SIGINT");
        QTest::newRow("SIGHUP") << int(SIGHUP) << QStringLiteral("SIGHUP");
    }

    // The handler only queues the signal; it reaches the main thread through the event loop, and the
    // previous disposition is back once the object is gone.
    void terminationSignalsArriveOnTheMainThread() {
        QFETCH(int, signal);
        QFETCH(QString, name);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction previous {};
        QCOMPARE(sigaction(signal, &ignore, &previous), 0);
        {
            TerminationSignals handler;
            QVERIFY(handler.isActive());
            QSignalSpy spy(&handler, &TerminationSignals::received);
            QThread* sender = QThread::create([signal] { ::kill(::getpid(), signal); });
            sender->start();
            sender->wait();
            delete sender;
            ::raise(signal);
            QTRY_COMPARE(spy.size(), 2);
            QCOMPARE(spy.at(0).at(0).toInt(), signal);
            QCOMPARE(spy.at(1).at(0).toInt(), signal);
            QCOMPARE(TerminationSignals::name(signal), name);
        }
        struct sigaction now {};
        QCOMPARE(sigaction(signal, nullptr, &now), 0);
        QVERIFY(now.sa_handler == SIG_IGN);
        sigaction(signal, &previous, nullptr);
    }
};

QTEST_MAIN(TestDesktopStateGuard)
#include "tst_desktop_state_guard.moc"
