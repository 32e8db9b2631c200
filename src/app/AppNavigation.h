#pragma once

#include <QObject>

#include <functional>

class QWidget;

// The app-wide navigation: "Settings" from the tray panel, the window's menu or Ctrl+, brings the
// dashboard to the front and asks it to show its settings section. When no dashboard window exists (it
// was closed, or never built), the window provider builds or shows one first, so the request is never lost.
class AppNavigation final : public QObject {
    Q_OBJECT

public:
    static AppNavigation& instance();

    // Returns the dashboard window, creating it when needed; set by the application.
    void setDashboardProvider(std::function<QWidget*()> provider) { m_provider = std::move(provider); }

    // Shows (or re-creates) the dashboard, restored when minimized, raised and activated.
    static void showDashboard();
    // showDashboard(), then emits settingsRequested.
    static void showSettings();

signals:
    // The dashboard answers by selecting its settings section.
    void settingsRequested();

private:
    AppNavigation() = default;
    std::function<QWidget*()> m_provider;
};
