#pragma once

#include "DashboardView.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class AppUpdater;
class ContainerAccountActions;
class DependencyContainer;
class LaunchAtLoginManager;
class LaunchAtLoginSwitch;
class SyncCoordinatorFailures;

// The dashboard window's frame (960×640, dark toolbar, the app icon) around the dashboard view built from
// the container's stores and services; its sign-in buttons start the container's attempts. It answers
// AppNavigation's settings request by selecting its settings section. Closing it hides it while the tray
// icon can bring it back; without a tray host closing it ends the application (the orderly way), so the
// app never runs on with no window and no icon.
class DashboardWindow final : public QMainWindow {
    Q_OBJECT
    Q_PROPERTY(QString selectedSection READ selectedSection NOTIFY selectedSectionChanged)

public:
    static constexpr QSize kDefaultSize = DashboardView::kDefaultSize;

    // What the window offers beside the container's services; each is optional.
    struct Hooks {
        // Re-reads the launch-at-login state each time the dashboard is shown.
        std::function<void()> refreshLaunchAtLogin;
        // The settings page's launch-at-login switch.
        LaunchAtLoginManager* launchAtLogin = nullptr;
        // "Check for Updates…" on the settings page, when it is configured.
        AppUpdater* updater = nullptr;
    };

    // `refreshLaunchAtLogin` re-reads the launch-at-login state each time the dashboard is shown.
    explicit DashboardWindow(DependencyContainer& container, std::function<void()> refreshLaunchAtLogin = {},
                             QWidget* parent = nullptr);
    DashboardWindow(DependencyContainer& container, Hooks hooks, QWidget* parent = nullptr);
    ~DashboardWindow() override;

    // True: closing hides (the tray brings it back). False: closing quits.
    void setHideOnClose(std::function<bool()> hideOnClose) { m_hideOnClose = std::move(hideOnClose); }
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }

    DashboardView* view() const { return m_view; }
    // The selected section's raw name ("home", "settings", ...); empty with nothing selected.
    QString selectedSection() const;
    void selectSection(const QString& section);

signals:
    void selectedSectionChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<ContainerAccountActions> m_account;
    std::unique_ptr<SyncCoordinatorFailures> m_syncFailures;
    std::unique_ptr<LaunchAtLoginSwitch> m_launchAtLogin;
    DashboardView* m_view = nullptr;
    std::function<bool()> m_hideOnClose;
    std::function<void()> m_quit;
};
