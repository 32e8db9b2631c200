#pragma once

#include <functional>

// The application's way out of the process.
//
// Qt 6.4's PulseAudio backend disconnects from the server in a static destructor while its main-loop
// thread still runs, and about one exit in forty of a program that used audio then aborts inside libpulse.
// So the application never returns from main() nor calls exit(): once its objects are gone, main() calls
// leave(), which puts back any desktop state still held, flushes what must reach the disk and ends the
// process with _exit, skipping the static destructors.
//
//     int main(int argc, char** argv) {
//         QApplication app(argc, argv);
//         int status;
//         {
//             ... build the services ...
//             OrderlyExit::install();
//             status = app.exec();
//         } // services put their state back and drop their holds
//         OrderlyExit::leave(status);
//     }
class OrderlyExit {
public:
    OrderlyExit() = delete;

    // Wires every other way out to the same end; main thread, with the application object and its
    // services built (it must come after Qt's audio backend started, so that an exit() runs our handler
    // before that backend's teardown):
    // - SIGTERM, SIGINT, SIGHUP: the held desktop state is put back at once, then the event loop quits;
    // - the X connection lost: what needs no X is put back, then leave(1);
    // - exit() called by anyone (Qt's X11 plugin does when its connection breaks): leave(status).
    // Calling it again only adds the exit() hook once more (harmless).
    static void install();

    // Runs `flush` before the process ends (after the desktop state is back, before the log is flushed).
    // Returns an id for removeFlush. Any thread.
    static int addFlush(std::function<void()> flush);
    static void removeFlush(int id);

    // Puts back the desktop state still held (on the main thread all of it, elsewhere what needs no X),
    // runs the flushes, hands the clipboard we own to the desktop's clipboard manager (main thread, after
    // the event loop ended: it serves the manager's requests for up to X11ClipboardHandOff::exitWaitLimit),
    // flushes the runtime log and stdio, and ends the process with `status`.
    [[noreturn]] static void leave(int status);

    // As leave(), when the X connection is gone: only what needs no X is put back.
    [[noreturn]] static void leaveWithoutDisplay(int status);
};
