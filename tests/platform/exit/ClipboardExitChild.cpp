// A stand-in for the application holding the user's clipboard after a paste, run by tst_clipboard_handoff:
//     clipboard_exit_child restored   the restore is done: we own the clipboard with the user's bytes
//     clipboard_exit_child pending    our pasted text is on the clipboard and the restore of the user's
//                                     bytes waits (time stands still, so only the exit path ends it)
// It wires the exit paths as the application does, prints "ready <runtime log path>" and runs its event
// loop until something ends it.

#include "AppLogger.h"
#include "ClipboardPayload.h"
#include "ClipboardRestorer.h"
#include "ClipboardSnapshot.h"
#include "Clock.h"
#include "ManualScheduler.h"
#include "OrderlyExit.h"

#include <QApplication>
#include <QClipboard>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ManualClock clock;
    ManualScheduler scheduler(clock);
    Clock::setCurrent(&clock);
    Scheduler::setCurrent(&scheduler);

    const ClipboardSnapshot user =
        ClipboardSnapshot::fromFormats({{QStringLiteral("text/plain"), QByteArray("the user's own words")}});
    ClipboardRestorer& restorer = ClipboardRestorer::instance();
    if (argc > 1 && std::strcmp(argv[1], "pending") == 0) {
        auto* payload = new ClipboardPayload(QStringLiteral("dictated text"));
        restorer.clipboard().setMimeData(payload);
        restorer.restoreAfterPaste(user, payload);
    } else {
        restorer.restoreNow(user);
    }
    OrderlyExit::install();
    std::printf("ready %s\n", qPrintable(AppLogger::logFilePath()));
    std::fflush(stdout);
    const int status = app.exec();
    OrderlyExit::leave(status);
}
