#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

// The window the user is working in: the desktop's active window and what it says about its program.
struct FrontmostWindow {
    quint64 windowId = 0;
    std::optional<qint64> processId;
    // The two halves of the window's class hint: the program's instance name and its class.
    std::optional<QString> instanceName;
    std::optional<QString> windowClass;
};

// Reads the frontmost window and window titles from the window system. Titles come back as the window
// sets them (untrimmed); everything answers "nothing" when the window system cannot tell.
class FrontmostWindowSource {
public:
    virtual ~FrontmostWindowSource() = default;

    virtual std::optional<FrontmostWindow> frontmostWindow() = 0;
    virtual std::optional<QString> windowTitle(quint64 window) = 0;
    // The window `window` belongs to (the one it is transient for, else its client leader), if another.
    virtual std::optional<quint64> mainWindow(quint64 window) = 0;
    // The top-level windows of a process, in the window manager's order.
    virtual QList<quint64> windowsOfProcess(qint64 processId) = 0;
    // Where the frontmost window is shown: its frame in the window system's pixels (the whole desktop's
    // coordinates); none when no window is active and shown.
    virtual std::optional<QRect> frontmostWindowFrame() { return std::nullopt; }
    // A compositing manager runs (windows may be translucent).
    virtual bool compositingManagerRunning() { return false; }

    // Whether `window` still exists and is shown (a closed window's id may be given to a new one later,
    // so the caller also compares the process).
    virtual bool isWindowShown(quint64 window) {
        Q_UNUSED(window);
        return false;
    }
    // The process that owns `window`, when it says.
    virtual std::optional<qint64> windowProcessId(quint64 window) {
        Q_UNUSED(window);
        return std::nullopt;
    }
    // Asks the window manager to make `window` the active window (EWMH `_NET_ACTIVE_WINDOW`, as a pager
    // does); false when the request could not be sent. Whether it happened shows in frontmostWindow().
    virtual bool requestActivation(quint64 window) {
        Q_UNUSED(window);
        return false;
    }
};
