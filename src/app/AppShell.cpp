#include "AppShell.h"

#include "AppLogger.h"
#include "AppNavigation.h"
#include "AppUpdater.h"
#include "AudioCaptureService.h"
#include "BrandAssets.h"
#include "DashboardWindow.h"
#include "DependencyContainer.h"
#include "DictationCoordinator.h"
#include "PermissionsOnboardingDialog.h"
#include "Scheduler.h"
#include "TrayPanel.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>

#include <algorithm>

AppShell::AppShell(DependencyContainer& container, AppUpdater& updater, Options options, QObject* parent)
    : QObject(parent), m_container(container), m_updater(updater), m_options(std::move(options)) {
    AppNavigation::instance().setDashboardProvider([this]() -> QWidget* { return dashboard(); });
    m_panel = std::make_unique<TrayPanel>(m_container.dictationCoordinator(), m_container.appSettings(),
                                          &m_updater);
    m_panel->setWindowFlags(Qt::Popup);
    m_panel->setFocusProbe(TrayPanel::focusProbe(m_container.desktop().windows));
    connect(&m_container.audioCaptureService(), &AudioCaptureService::isRecordingChanged, this, [this] {
        m_panel->sync();
        syncTrayIcon();
    });
    // A recording refused for want of a session (a shortcut, the mouse trigger or the tray panel) asks the
    // user to sign in: the dashboard comes up with that prompt over it, in front of the other windows.
    DictationCoordinator& dictation = m_container.dictationCoordinator();
    connect(&dictation, &DictationCoordinator::upgradePromptChanged, this, [&dictation] {
        if (dictation.upgradePrompt()) {
            AppNavigation::showDashboard();
        }
    });
    ensureTray();
}

AppShell::~AppShell() {
    AppNavigation::instance().setDashboardProvider({});
    delete m_dashboard.data();
}

bool AppShell::hasTray() const {
    return m_tray && m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

DashboardWindow* AppShell::dashboard() {
    if (!m_dashboard) {
        m_dashboard =
            new DashboardWindow(m_container, DashboardWindow::Hooks{m_options.refreshLaunchAtLogin,
                                                                    m_options.launchAtLogin, &m_updater});
        m_dashboard->setHideOnClose([this] { return hasTray(); });
        // The permissions onboarding shows inside the window: a hidden window comes up for it.
        connect(&m_container.permissionsCoordinator(), &PermissionsCoordinator::showOnboardingChanged,
                m_dashboard, [this] {
                    if (m_container.permissionsCoordinator().showOnboarding() && !m_dashboard->isVisible()) {
                        m_dashboard->show();
                    }
                });
    }
    return m_dashboard;
}

void AppShell::showDashboard() {
    AppNavigation::showDashboard();
}

void AppShell::ensureTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        AppLogger::info(
            QStringLiteral("No system tray on this desktop; the dashboard window stays the way in"));
        return;
    }
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setToolTip(QStringLiteral("Quillvane"));
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
                    reason == QSystemTrayIcon::DoubleClick) {
                    showPanel();
                } else if (reason == QSystemTrayIcon::MiddleClick) {
                    AppNavigation::showDashboard();
                }
            });
    syncTrayIcon();
    m_tray->show();
}

void AppShell::syncTrayIcon() {
    if (!m_tray) {
        return;
    }
    const bool recording = m_container.audioCaptureService().isRecording();
    m_tray->setIcon(
        QIcon(recording ? QStringLiteral(":/icons/mic.fill.svg") : QStringLiteral(":/icons/mic.svg")));
}

void AppShell::showPanel() {
    m_panel->sync();
    m_panel->adjustSize();
    QPoint at = QCursor::pos();
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    if (icon.isValid()) {
        at = icon.bottomLeft();
    }
    const QScreen* screen =
        QGuiApplication::screenAt(at) ? QGuiApplication::screenAt(at) : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize size = m_panel->sizeHint();
    at.setX(std::clamp(at.x(), area.left(), area.right() - size.width()));
    if (at.y() + size.height() > area.bottom()) {
        at.setY((icon.isValid() ? icon.top() : at.y()) - size.height());
    }
    at.setY(std::clamp(at.y(), area.top(), area.bottom() - size.height()));
    m_panel->move(at);
    m_panel->show();
}

void AppShell::start(std::function<void()> started) {
    if (m_options.showWindow) {
        dashboard()->show();
    } else {
        dashboard(); // built hidden: the settings request and the tray find it
    }
    QPointer<AppShell> self(this);
    // The bootstrap runs after the window is on screen (on the next turn of the event loop).
    Scheduler::current().singleShot(std::chrono::milliseconds(0), [self, started] {
        if (!self) {
            return;
        }
        QCoro::Task<> bootstrap = self->m_container.bootstrap();
        Q_UNUSED(bootstrap); // runs on by itself
        if (started) {
            started();
        }
        if (!self->m_options.screenshotPath.isEmpty()) {
            Scheduler::current().singleShot(std::chrono::milliseconds(1500), [self] {
                if (self) {
                    self->writeScreenshot();
                }
            });
        }
    });
}

namespace {

void saveShot(const QPixmap& shot, const QString& path, const QString& what) {
    if (shot.save(path, "PNG")) {
        AppLogger::info(QStringLiteral("Wrote a screenshot of the %1 to %2").arg(what, path));
    } else {
        AppLogger::error(QStringLiteral("Could not write the %1 screenshot to %2").arg(what, path));
    }
}

} // namespace

void AppShell::writeScreenshot() {
    DashboardWindow* window = dashboard();
    if (!window->isVisible()) {
        window->show();
    }
    saveShot(window->grab(), m_options.screenshotPath, QStringLiteral("dashboard"));
    // Beside it, the tray panel and (when it is up) the onboarding view: "<name>-panel.png", ...
    QString stem = m_options.screenshotPath;
    if (stem.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        stem.chop(4);
    }
    m_panel->sync();
    m_panel->adjustSize();
    saveShot(m_panel->grab(), stem + QStringLiteral("-panel.png"), QStringLiteral("tray panel"));
    auto* onboarding = window->findChild<PermissionsOnboardingDialog*>();
    if (onboarding && onboarding->isVisible()) {
        saveShot(onboarding->grab(), stem + QStringLiteral("-onboarding.png"),
                 QStringLiteral("onboarding dialog"));
    }
}
