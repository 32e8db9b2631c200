#include "X11ClipboardHandOff.h"

#include "SupportLog.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include "X11Display.h" // after Qt: Xlib's macros clash with Qt's names

#include <poll.h>

#include <memory>

namespace {

// One connection for the process, opened on first use and never closed, with a window of its own to
// receive the manager's answer.
struct HandOffConnection {
    std::unique_ptr<X11Display> display;
    Window requestor = None;
    int answers = 0; // SelectionNotify events for SAVE_TARGETS seen so far
};

HandOffConnection* connection() {
    static HandOffConnection* shared = [] {
        auto* created = new HandOffConnection;
        created->display = X11Display::open();
        if (created->display) {
            X11Display& x = *created->display;
            created->requestor = XCreateSimpleWindow(x.display(), x.root(), 0, 0, 1, 1, 0, 0, 0);
            const Atom saveTargets = x.atom("SAVE_TARGETS");
            x.addEventListener([created, saveTargets](XEvent& event) {
                if (event.type == SelectionNotify && event.xselection.requestor == created->requestor &&
                    event.xselection.target == saveTargets) {
                    ++created->answers;
                }
            });
        }
        return created;
    }();
    return shared;
}

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

enum class Reason { Nothing, NoManager };

// The connection when we own the clipboard and a manager runs; else nothing to hand over, and why.
HandOffConnection* connectionForHandOff(Reason* why = nullptr) {
    if (why) {
        *why = Reason::Nothing;
    }
    if (!onMainThread() || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !clipboard->ownsClipboard()) {
        return nullptr;
    }
    HandOffConnection* shared = connection();
    if (!shared->display) {
        return nullptr;
    }
    X11Display& x = *shared->display;
    if (XGetSelectionOwner(x.display(), x.atom("CLIPBOARD_MANAGER")) == None) {
        if (why) {
            *why = Reason::NoManager;
        }
        return nullptr;
    }
    return shared;
}

void sendRequest(HandOffConnection& shared) {
    X11Display& x = *shared.display;
    // No property: the manager keeps every target the clipboard offers.
    XConvertSelection(x.display(), x.atom("CLIPBOARD_MANAGER"), x.atom("SAVE_TARGETS"), None,
                      shared.requestor, CurrentTime);
    XFlush(x.display());
}

} // namespace

void X11ClipboardHandOff::requestSave() {
    if (HandOffConnection* shared = connectionForHandOff()) {
        sendRequest(*shared);
    }
}

bool X11ClipboardHandOff::handOverBeforeExit(std::chrono::milliseconds limit) {
    Reason why = Reason::Nothing;
    HandOffConnection* shared = connectionForHandOff(&why);
    if (!shared) {
        if (why == Reason::NoManager) {
            SupportLog::info(
                QStringLiteral("No clipboard manager runs: the clipboard's content ends with the app"));
        }
        return false;
    }
    X11Display& x = *shared->display;
    x.processEvents(); // answers to earlier requests do not count
    const int answersBefore = shared->answers;
    sendRequest(*shared);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // The manager's requests reach the toolkit's connection: its event processing answers them.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
        x.processEvents();
        if (shared->answers > answersBefore) {
            SupportLog::info(QStringLiteral("Handed the clipboard to the clipboard manager"));
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            SupportLog::error(QStringLiteral("The clipboard manager did not take the clipboard in time"));
            return false;
        }
        pollfd descriptor{ConnectionNumber(x.display()), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(std::min<qint64>(left.count(), 5)));
    }
}
