// A stand-in for the application's exit paths, run by tst_exit_restore: it mutes the output through
// MediaControlService, types characters the layout lacks through X11Typist (which remaps spare keycodes),
// wires the exit paths as the application does (with a flush that leaves the file "flushed" in
// $XDG_RUNTIME_DIR, standing for the stores), records from the default microphone, prints
//     ready <toolkit window id> <own-connection window id> <runtime log path>
// and runs its event loop until something ends it.
//
// `exit_child typing` stands for the application in the middle of typing instead: the desktop's typist
// (built once, never destroyed, as in the application) types a long text of characters the
// layout lacks, on real time; "ready" comes once the first spare keys are remapped. After its event loop
// ends it goes on serving events for a moment, as the way out does while the clipboard manager fetches
// the clipboard, before it leaves.

#include "AppLogger.h"
#include "AudioCaptureService.h"
#include "Clock.h"
#include "DesktopStateGuard.h"
#include "KeySynthesizer.h"
#include "ManualScheduler.h"
#include "MediaControlService.h"
#include "OrderlyExit.h"

#include <QApplication>
#include <QDir>
#include <QSaveFile>
#include <QWidget>
#include <qcoro/qcorotask.h>

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <exception>

#include "TestDesktop.h"
#include "X11Display.h"
#include "X11Typist.h"

namespace {
QCoro::Task<> typeText(X11Typist& typist, QString text, bool& done, QString& failure) {
    try {
        co_await typist.type(text, std::chrono::milliseconds(1));
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    done = true;
}

QCoro::Task<> typeOnSystemKeys(QString text) {
    try {
        co_await testDesktop().keys->typeText(text, std::chrono::milliseconds(4));
    } catch (const std::exception& error) {
        AppLogger::info(QStringLiteral("Typing ended: ") + QString::fromUtf8(error.what()));
    }
}

// Characters no Latin layout has, many more than there are spare keys for at once.
QString longForeignText() {
    QString text;
    for (int round = 0; round < 20; ++round) {
        for (char32_t c = 0x2600; c < 0x2600 + 40; ++c) {
            text += QString::fromUcs4(&c, 1);
        }
    }
    return text;
}

[[noreturn]] void runTyping(QApplication& app, const QWidget& window) {
    int status = 0;
    {
        OrderlyExit::install();
        QCoro::Task<>* typing = new QCoro::Task<>(typeOnSystemKeys(longForeignText())); // as long as the app
        Q_UNUSED(typing);
        std::printf("ready %lu 0 %s\n", static_cast<unsigned long>(window.winId()),
                    qPrintable(AppLogger::logFilePath()));
        std::fflush(stdout);
        status = app.exec();
    }
    QElapsedTimer serving;
    serving.start();
    while (serving.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
    }
    OrderlyExit::leave(status);
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(120, 80);
    window.show();

    if (argc > 1 && std::strcmp(argv[1], "typing") == 0) {
        runTyping(app, window);
    }

    const std::unique_ptr<X11Display> display = X11Display::open();
    if (!display) {
        std::fprintf(stderr, "exit_child: no X display\n");
        return 2;
    }
    // A window of our own connection, for the test to kill that connection by.
    const Window ownWindow = XCreateSimpleWindow(display->display(), display->root(), 0, 0, 10, 10, 0, 0, 0);
    XFlush(display->display());

    // Time stands still after the typing, so the typist's own delayed restore of the spare keys never
    // comes: only the exit path can put them back.
    ManualClock clock;
    ManualScheduler scheduler(clock);
    Clock::setCurrent(&clock);
    Scheduler::setCurrent(&scheduler);

    int status = 0;
    {
        MediaControlService media(testDesktop().openOutputMute);
        X11Typist typist(*display);
        DesktopStateGuard::Hold spareKeys = DesktopStateGuard::instance().hold(
            QStringLiteral("spare keycodes"), DesktopStateGuard::Needs::Display,
            [&typist] { typist.restoreKeymapNow(); });
        OrderlyExit::install();
        OrderlyExit::addFlush([] {
            QSaveFile file(QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(QStringLiteral("flushed")));
            if (file.open(QIODevice::WriteOnly)) {
                file.write("flushed\n");
                file.commit();
            }
        });

        media.muteIfNeeded();
        media.flush();

        bool typed = false;
        QString failure;
        QCoro::Task<> typing = typeText(typist, QStringLiteral("\u0167\u014b\u2603"), typed, failure);
        while (!typed) {
            scheduler.advance(std::chrono::milliseconds(5));
        }
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "exit_child: typing failed: %s\n", qPrintable(failure));
            return 3;
        }
        // Two recordings of the user's voice: one handed over and never deleted by its taker (a request
        // still pending), one still running.
        AudioCaptureService recorder(testDesktop().audioInputs);
        QCoro::Task<> firstStart = recorder.startRecording();
        if (!recorder.isRecording()) {
            std::fprintf(stderr, "exit_child: the recording did not start\n");
            return 4;
        }
        recorder.stopRecording();
        QCoro::Task<> secondStart = recorder.startRecording();
        if (!recorder.isRecording()) {
            std::fprintf(stderr, "exit_child: the second recording did not start\n");
            return 4;
        }
        std::printf("ready %lu %lu %s\n", static_cast<unsigned long>(window.winId()),
                    static_cast<unsigned long>(ownWindow), qPrintable(AppLogger::logFilePath()));
        std::fflush(stdout);
        status = app.exec();
    }
    OrderlyExit::leave(status);
}
