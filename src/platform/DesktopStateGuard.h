#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Keeps the "undo" of every piece of desktop-wide state the application holds for a while (the output
// muted, spare keycodes remapped, the user's clipboard borrowed), so that whatever ends the process can
// put it back: a termination signal, the X connection dying, an exit() from deep inside a library.
//
// A service takes a hold when it changes such state and drops it (destroys or releases the Hold) when it
// has put the state back itself. Holds may be taken and dropped on any thread; the undo runs on the
// thread that asks for it (see OrderlyExit for who asks when).
//
// The holders: MediaControlService while the output is muted by it; ClipboardRestorer while a restore
// waits; the typist's owner for the typist's whole life, with X11Typist::restoreKeymapNow() (which does
// nothing when no spare key carries our symbols and Caps Lock is as the user left it).
//
// Undo actions that need no X connection run first (they still work when the X server is gone), each
// group newest first. Each undo runs at most once: it is taken off the list before it runs, so an undo
// may take or drop holds itself.
//
// Asking for the undo means the process is on its way out: the guard says so (isLeaving()) from then on,
// before any undo runs, so that work still under way (a typing coroutine resumed by a timer the exit path
// let through) stops instead of changing the desktop again after its state was put back.
class DesktopStateGuard {
public:
    enum class Needs {
        Nothing, // works without X (PulseAudio, files)
        Display, // talks to the X server
    };

    // Drops its hold when destroyed; releasing a hold whose undo already ran does nothing.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        ~Hold() { release(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        void release();
        // Still registered (its undo has not run and it was not released).
        bool isHeld() const;

    private:
        friend class DesktopStateGuard;
        Hold(DesktopStateGuard* guard, std::uint64_t id) : m_guard(guard), m_id(id) {}

        DesktopStateGuard* m_guard = nullptr;
        std::uint64_t m_id = 0;
    };

    DesktopStateGuard() = default;
    DesktopStateGuard(const DesktopStateGuard&) = delete;
    DesktopStateGuard& operator=(const DesktopStateGuard&) = delete;

    // The process's guard. Never destroyed (an exit path may still use it while statics are torn down).
    static DesktopStateGuard& instance();

    // `what` names the state in log lines ("output mute"). Any thread.
    [[nodiscard]] Hold hold(QString what, Needs needs, std::function<void()> undo);

    // What is held now, oldest first.
    QStringList held() const;

    // True from the first undoAll()/undoWithoutDisplay() on (or markLeaving()). Any thread.
    bool isLeaving() const { return m_leaving.load(); }
    void markLeaving() { m_leaving.store(true); }

    // Runs every undo still registered. Undo actions that need the display must run on the thread that
    // owns the X connections and the clipboard (the main thread).
    void undoAll();
    // Runs only the undo actions that need no X connection; the others stay registered.
    void undoWithoutDisplay();

private:
    struct Entry {
        std::uint64_t id;
        QString what;
        Needs needs;
        std::function<void()> undo;
    };

    void release(std::uint64_t id);
    bool contains(std::uint64_t id) const;
    void undo(bool includeDisplay);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries; // oldest first
    std::uint64_t m_nextId = 1;
    std::atomic<bool> m_leaving{false};
};
