#pragma once

#ifndef Q_MOC_RUN
#include "Scheduler.h" // moc cannot parse <concepts>
#endif

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class AppUpdater;
class DashboardWindow;
class DependencyContainer;
class LaunchAtLoginManager;
class QSystemTrayIcon;
class TrayPanel;

// The application's windows around the one container: the dashboard window (shown at start unless asked
// not to; closing hides it while a tray icon exists; the permissions onboarding shows inside it), the
// tray icon whose popup is the tray panel, and the settings navigation. A recording refused because nobody
// is signed in brings the dashboard up (shown, raised) with its sign-in prompt.
// Starts the container's bootstrap once the window is up. Main thread only.
class AppShell final : public QObject {
    Q_OBJECT

public:
    // How long the dictation's status must stay unchanged before its freed memory is handed back.
    static constexpr std::chrono::seconds kHeapReleaseDelay{5};

    struct Options {
        bool showWindow = true;
        QString screenshotPath; // a PNG of the dashboard once start-up settled; empty: none
        std::function<void()> refreshLaunchAtLogin;    // re-reads launch at login when the dashboard shows
        LaunchAtLoginManager* launchAtLogin = nullptr; // the settings page's switch; none: no switch
    };

    AppShell(DependencyContainer& container, AppUpdater& updater, Options options, QObject* parent = nullptr);
    ~AppShell() override;

    // Shows the window and runs the bootstrap on the next turn of the event loop; `started` runs right
    // after the bootstrap's synchronous part (the shortcuts are registered then).
    void start(std::function<void()> started);

    DashboardWindow* dashboard();
    bool hasTray() const;
    // Shows the dashboard window (building it when needed), restored if minimized, raised and activated.
    void showDashboard();

private:
    void ensureTray();
    void syncTrayIcon();
    TrayPanel& panel();
    void releaseHeapWhenSettled();
    void showPanel();
    void writeScreenshot();

    DependencyContainer& m_container;
    AppUpdater& m_updater;
    Options m_options;
    QPointer<DashboardWindow> m_dashboard;
    std::unique_ptr<TrayPanel> m_panel;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    TimerHandle m_heapRelease;
};
