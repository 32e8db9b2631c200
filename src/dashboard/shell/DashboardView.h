#pragma once

#include "AppSection.h"
#include "DashboardServices.h"
#include "DashboardState.h"

#include <QWidget>

#include <memory>

class DashboardSidebar;
class HomePage;
class PresentationHost;
class QStackedWidget;
class QStyle;

// The dashboard window's content: the dark sidebar and the light detail panel that shows one section's
// page at a time, always in the dashboard's own light look. It owns the window's view state and its
// presentations (the shortcut capture sheet, the custom prompt editor, the sign-in prompt, the permissions
// onboarding and the reset confirmation), shown one at a time through one PresentationHost. While the
// capture sheet shows, the global shortcuts are suspended. Main thread only.
class DashboardView : public QWidget {
    Q_OBJECT
public:
    static inline const QString kCapturePresentation = QStringLiteral("capture");
    static inline const QString kSignInPromptPresentation = QStringLiteral("signInPrompt");
    static inline const QString kOnboardingPresentation = QStringLiteral("onboarding");
    static inline const QString kResetPresentation = QStringLiteral("resetConfirmation");
    static inline const QString kCustomPromptPresentation = QStringLiteral("customPrompt");
    // The smallest size at which every page is whole (the sidebar's rows and account card included; the
    // pages stack their columns at this width), and the size a new window opens at, where the notes
    // page shows its list and editor side by side.
    static constexpr QSize kMinimumSize{720, 640};
    static constexpr QSize kDefaultSize{1100, 700};

    explicit DashboardView(DashboardServices services, QWidget* parent = nullptr);
    ~DashboardView() override;

    DashboardState& state() { return m_state; }
    PresentationHost& presentations() const { return *m_host; }
    QStackedWidget* pages() const { return m_pages; }
    DashboardSidebar* sidebar() const { return m_sidebar; }
    HomePage* homePage() const { return m_home; }
    // The page shown for the current selection (home when nothing is selected).
    QWidget* currentPage() const;

    // The section's page, in place of the empty one it starts with (the later pages plug in here).
    // `scrolls` wraps it in a vertical scroll area.
    void setPage(AppSection section, QWidget* page, bool scrolls);

    // The answer to the app-wide request to show the settings: selects the settings section.
    void openSettings();
    // Prompt settings, app settings, launch at login, microphones, then the two texts of this view.
    void resetSettingsToDefaults();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void syncSection();
    void syncCapture();
    void syncSignInPrompt();
    void syncOnboarding();
    void syncResetConfirmation();
    void syncCustomPromptEditor();
    void syncShortcutSuspension();

    DashboardServices m_services;
    DashboardState m_state;
    DashboardSidebar* m_sidebar;
    QWidget* m_panel;
    QStackedWidget* m_pages;
    HomePage* m_home;
    PresentationHost* m_host;
    bool m_shortcutsSuspended = false;
};
