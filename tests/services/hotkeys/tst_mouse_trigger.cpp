// The middle-button latch: one pressed edge carrying the mode and one released edge per click, through a
// fake button monitor.

#include "MouseTriggerService.h"
#include "RuntimeLogCapture.h"

#include <QPointer>
#include <QTest>

namespace {

QString edgeText(const MouseTriggerEvent& event) {
    return event.kind == MouseTriggerEvent::Kind::Pressed ? "pressed " + toRaw(event.mode)
                                                          : QString("released");
}

// Stands in for the platform: remembers the callback of the monitor installed last.
struct FakeButtons {
    std::function<void(int, bool)> callback;
    QPointer<QObject> monitor;
    int installs = 0;

    MouseTriggerService::MonitorFactory factory() {
        return [this](std::function<void(int, bool)> cb) {
            callback = std::move(cb);
            ++installs;
            auto object = std::make_unique<QObject>();
            monitor = object.get();
            return object;
        };
    }
    void run(const QString& sequence) {
        // "down 2; up 2; down 3" ...
        for (const QString& step : sequence.split(';', Qt::SkipEmptyParts)) {
            const QStringList parts = step.trimmed().split(' ');
            callback(parts.at(1).toInt(), parts.at(0) == "down");
        }
    }
};

} // namespace

class TestMouseTrigger : public QObject {
    Q_OBJECT

private slots:
    void clicks_data() {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one click") << "down 2; up 2" << QStringList{"pressed dictation", "released"};
        QTest::newRow("a second down without an up")
            << "down 2; down 2; up 2; up 2" << QStringList{"pressed dictation", "released"};
        QTest::newRow("other buttons") << "down 1; up 1; down 3; up 3; down 4; up 4" << QStringList{};
        QTest::newRow("an up without a down")
            << "up 2; down 2; up 2" << QStringList{"pressed dictation", "released"};
    }

    void clicks() {
        QFETCH(QString, sequence);
        QFETCH(QStringList, expected);
        FakeButtons buttons;
        MouseTriggerService service(buttons.factory());
        QStringList edges;
        service.eventHandler = [&](const MouseTriggerEvent& event) { edges << edgeText(event); };
        service.setMode(MouseTriggerMode::Dictation);
        buttons.run(sequence);
        QCOMPARE(edges, expected);
    }

    void logsTheConfigurationAndEachEdge() {
        RuntimeLogCapture log;
        FakeButtons buttons;
        MouseTriggerService service(buttons.factory());
        service.setMode(MouseTriggerMode::AiRefinement);
        buttons.run("down 2; up 2");
        QCOMPARE(log.lines(),
                 (QStringList{"Mouse trigger configured mode=ai_refinement",
                              "Middle mouse pressed mode=ai_refinement", "Middle mouse released"}));
    }

    void offWatchesNothing() {
        RuntimeLogCapture log;
        FakeButtons buttons;
        MouseTriggerService service(buttons.factory());
        service.setMode(MouseTriggerMode::Dictation);
        QVERIFY(buttons.monitor);
        log.clear();
        service.setMode(fromRaw<MouseTriggerMode>("AI_REFINEMENT").value_or(MouseTriggerMode::Off));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!buttons.monitor); // the monitor is removed
        QCOMPARE(buttons.installs, 1);
        QCOMPARE(log.lines(), QStringList{});
    }

    void modeChangeWhileHeldReleasesFirst() {
        // The receiver records while the button is held: a mode change must not leave it recording.
        FakeButtons buttons;
        MouseTriggerService service(buttons.factory());
        QStringList edges;
        service.eventHandler = [&](const MouseTriggerEvent& event) { edges << edgeText(event); };
        service.setMode(MouseTriggerMode::Dictation);
        buttons.run("down 2");
        service.setMode(MouseTriggerMode::Vdi);
        QCOMPARE(edges, (QStringList{"pressed dictation", "released"}));
        buttons.run("up 2; down 2; up 2"); // the stale up is ignored; the next click carries the new mode
        QCOMPARE(edges, (QStringList{"pressed dictation", "released", "pressed vdi", "released"}));
    }

    void handlerMayChangeTheModeFromInsideAClick() {
        FakeButtons buttons;
        MouseTriggerService service(buttons.factory());
        QStringList edges;
        service.eventHandler = [&](const MouseTriggerEvent& event) {
            edges << edgeText(event);
            if (event.kind == MouseTriggerEvent::Kind::Pressed) {
                service.setMode(MouseTriggerMode::Off); // destroys the monitor that is calling
            }
        };
        service.setMode(MouseTriggerMode::Dictation);
        auto oldCallback = buttons.callback;
        buttons.run("down 2");
        oldCallback(2, false); // the removed monitor's late event changes nothing
        QCOMPARE(edges, (QStringList{"pressed dictation", "released"}));
    }
};

QTEST_GUILESS_MAIN(TestMouseTrigger)
#include "tst_mouse_trigger.moc"
