#pragma once

#include "FrontmostWindowSource.h"

#include <memory>

class X11Display;

// Reads the active window and window properties from an X server: EWMH `_NET_ACTIVE_WINDOW` (when no
// window manager supports it, the input focus walked up to a window with `WM_CLASS`),
// `_NET_WM_PID`, `WM_CLASS`, `_NET_WM_NAME` then `WM_NAME`, `WM_TRANSIENT_FOR` / `WM_CLIENT_LEADER`,
// and `_NET_CLIENT_LIST`. Windows that vanish while they are read count as windows without properties.
// (Window ids are Xlib's `Window`, an unsigned long; Xlib stays out of this header.)
class X11WindowInspector : public FrontmostWindowSource {
public:
    // Uses `display` (not owned; null: sees nothing).
    explicit X11WindowInspector(X11Display* display);
    // Opens and owns a connection to $DISPLAY (sees nothing when there is none).
    X11WindowInspector();
    ~X11WindowInspector() override;

    std::optional<FrontmostWindow> frontmostWindow() override;
    std::optional<QString> windowTitle(quint64 window) override;
    std::optional<quint64> mainWindow(quint64 window) override;
    QList<quint64> windowsOfProcess(qint64 processId) override;
    std::optional<QRect> frontmostWindowFrame() override;
    bool compositingManagerRunning() override;
    bool isWindowShown(quint64 window) override;
    std::optional<qint64> windowProcessId(quint64 window) override;
    bool requestActivation(quint64 window) override;

private:
    std::optional<unsigned long> activeWindow();
    bool windowManagerTracksActiveWindow();
    std::optional<unsigned long> focusedClientWindow();
    std::optional<qint64> processId(unsigned long window);
    QList<unsigned long> windowListProperty(unsigned long window, const char* name, bool* present = nullptr);
    std::optional<QString> utf8Property(unsigned long window, const char* name);
    std::optional<QString> legacyName(unsigned long window);
    bool hasClassHint(unsigned long window);

    std::unique_ptr<X11Display> m_owned;
    X11Display* m_display = nullptr;
};
