#include "AppShell.h"

#include "AppLogger.h"
#include "AppNavigation.h"
#include "AppUpdater.h"
#include "AudioCaptureService.h"
#include "BrandAssets.h"
#include "DashboardWindow.h"
#include "DependencyContainer.h"
#include "DictationCoordinator.h"
#include "HeapRelease.h"
#include "PermissionsOnboardingDialog.h"
#include "Scheduler.h"
#include "TrayPanel.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QPixmapCache>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>

#include <algorithm>

AppShell::AppShell(DependencyContainer& container, AppUpdater& updater, Options options, QObject* parent)
    : QObject(parent), m_container(container), m_updater(updater), m_options(std::move(options)) {
    AppNavigation::instance().setDashboardProvider([this]() -> QWidget* { return dashboard(); });
    connect(&m_container.audioCaptureService(), &AudioCaptureService::isRecordingChanged, this, [this] {
        if (m_panel) {
            m_panel->syncWhenShown();
        }
        syncTrayIcon();
        releaseHeapWhenSettled();
    });
    connect(&m_container.dictationCoordinator(), &DictationCoordinator::statusTextChanged, this, [this] {
        if (m_heapRelease.isActive()) {
            releaseHeapWhenSettled(); // the recording's work goes on
        }
    });
    // A recording refused for want of a session (a shortcut, the mouse trigger or the tray panel) asks the
    // user to sign in: the dashboard comes up with that prompt over it, in front of the other windows.
    DictationCoordinator& dictation = m_container.dictationCoordinator();
    connect(&dictation, &DictationCoordinator::upgradePromptChanged, this, [&dictation] {
        if (dictation.upgradePrompt()) {
            AppNavigation::showDashboard();
        }
    });
    // The permissions onboarding shows inside the window: the window comes up for it (built then if it
    // was never shown).
    connect(&m_container.permissionsCoordinator(), &PermissionsCoordinator::showOnboardingChanged, this,
            [this] {
                if (m_container.permissionsCoordinator().showOnboarding()) {
                    DashboardWindow* window = dashboard();
                    if (!window->isVisible()) {
                        window->show();
                    }
                }
            });
    ensureTray();
}

AppShell::~AppShell() {
    AppNavigation::instance().setDashboardProvider({});
    delete m_dashboard.data();
}

void AppShell::releaseHeapWhenSettled() {
    // Once a recording's work has settled (no change of status for a while after it stopped), what it
    // freed goes back to the system: the program idles most of its life.
    m_heapRelease.cancel();
    m_heapRelease = Scheduler::current().singleShot(kHeapReleaseDelay, [this] {
        if (!m_container.audioCaptureService().isRecording()) {
            // Qt's pixmap cache would otherwise keep what the overlay and the cues' icons drew, and
            // wake the program to age it out.
            QPixmapCache::clear();
            releaseFreeHeapMemory();
        }
    });
}

TrayPanel& AppShell::panel() {
    // Built when the tray is first clicked: like the window, it costs memory nobody sees until then.
    if (!m_panel) {
        m_panel = std::make_unique<TrayPanel>(m_container.dictationCoordinator(), m_container.appSettings(),
                                              &m_updater);
        m_panel->setWindowFlags(Qt::Popup);
        m_panel->setFocusProbe(TrayPanel::focusProbe(m_container.desktop().windows));
    }
    return *m_panel;
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
    TrayPanel& shown = panel();
    shown.sync();
    shown.adjustSize();
    QPoint at = QCursor::pos();
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    if (icon.isValid()) {
        at = icon.bottomLeft();
    }
    const QScreen* screen =
        QGuiApplication::screenAt(at) ? QGuiApplication::screenAt(at) : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize size = shown.sizeHint();
    at.setX(std::clamp(at.x(), area.left(), area.right() - size.width()));
    if (at.y() + size.height() > area.bottom()) {
        at.setY((icon.isValid() ? icon.top() : at.y()) - size.height());
    }
    at.setY(std::clamp(at.y(), area.top(), area.bottom() - size.height()));
    shown.move(at);
    shown.show();
}

void AppShell::start(std::function<void()> started) {
    // A hidden start builds no window: the dashboard is most of the program's memory, and the tray,
    // the settings request and the prompts that need it build it when it is first asked for.
    if (m_options.showWindow) {
        dashboard()->show();
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
    panel().sync();
    panel().adjustSize();
    saveShot(panel().grab(), stem + QStringLiteral("-panel.png"), QStringLiteral("tray panel"));
    auto* onboarding = window->findChild<PermissionsOnboardingDialog*>();
    if (onboarding && onboarding->isVisible()) {
        saveShot(onboarding->grab(), stem + QStringLiteral("-onboarding.png"),
                 QStringLiteral("onboarding dialog"));
    }
}
