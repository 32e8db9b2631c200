#include "OrderlyExit.h"

#include "DesktopStateGuard.h"
#include "SupportLog.h"
#include "linux/TerminationSignals.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "X11ClipboardHandOff.h"
#include "X11Display.h" // after Qt: Xlib's macros clash with Qt's names

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include <unistd.h>

namespace {

std::mutex g_flushMutex;
std::map<int, std::function<void()>>& flushes() {
    static auto* registered = new std::map<int, std::function<void()>>;
    return *registered;
}
int g_nextFlushId = 1;

std::atomic<bool> g_leaving{false};
std::atomic<bool> g_flushing{false};

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

void runFlushes() {
    std::map<int, std::function<void()>> pending;
    {
        std::lock_guard lock(g_flushMutex);
        pending = flushes();
    }
    for (auto& [id, flush] : pending) {
        flush();
    }
}

// `viaLeave`: the application's own way out, after its event loop ended (not an exit() from anywhere).
[[noreturn]] void finish(int status, bool displayUsable, bool viaLeave) {
    // A second call comes from inside the first one's undo actions or flushes (the X I/O error handler
    // when the display died under an undo, an exit() in a library): what is still under way is given up,
    // the rest of the way out is the same. What needs no X has run first in any case.
    if (!g_leaving.exchange(true)) {
        DesktopStateGuard& guard = DesktopStateGuard::instance();
        if (displayUsable && onMainThread()) {
            guard.undoAll();
        } else {
            guard.undoWithoutDisplay();
        }
    }
    if (!g_flushing.exchange(true)) {
        runFlushes();
        // The clipboard we own (the user's content put back after a paste, or text copied in our windows)
        // would end with us: the desktop's clipboard manager takes it first, when one runs.
        if (viaLeave && displayUsable && onMainThread()) {
            X11ClipboardHandOff::handOverBeforeExit();
        }
    }
    SupportLog::flush();
    std::fflush(nullptr);
    ::_exit(status);
}

void onDisplayLost() {
    SupportLog::error(QStringLiteral("Lost the connection to the X server; quitting"));
    finish(1, false, false);
}

// Someone called exit() (or main returned) without going through leave().
void onStrayExit(int status, void*) {
    if (g_leaving.load()) {
        return;
    }
    SupportLog::error(QStringLiteral("Exiting outside the orderly exit path status=") +
                     QString::number(status));
    finish(status, true, false);
}

} // namespace

void OrderlyExit::install() {
    static QPointer<TerminationSignals> signalsHandler;
    if (!signalsHandler && QCoreApplication::instance()) {
        signalsHandler = new TerminationSignals(QCoreApplication::instance());
        QObject::connect(signalsHandler, &TerminationSignals::received, [](int signal) {
            SupportLog::info(QStringLiteral("Quitting on ") + TerminationSignals::name(signal));
            DesktopStateGuard::instance().undoAll();
            QCoreApplication::quit();
        });
    }
    X11Display::setConnectionLostHandler(&onDisplayLost);
    ::on_exit(&onStrayExit, nullptr);
}

int OrderlyExit::addFlush(std::function<void()> flush) {
    std::lock_guard lock(g_flushMutex);
    const int id = g_nextFlushId++;
    flushes().emplace(id, std::move(flush));
    return id;
}

void OrderlyExit::removeFlush(int id) {
    std::lock_guard lock(g_flushMutex);
    flushes().erase(id);
}

void OrderlyExit::leave(int status) {
    finish(status, true, true);
}

void OrderlyExit::leaveWithoutDisplay(int status) {
    finish(status, false, true);
}
