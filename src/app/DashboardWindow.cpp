#include "DashboardWindow.h"

#include "AppNavigation.h"
#include "AppUpdater.h"
#include "BackendClient.h"
#include "BrandAssets.h"
#include "ContainerAccountActions.h"
#include "DashboardAdapters.h"
#include "DashboardState.h"
#include "DashboardView.h"
#include "DependencyContainer.h"
#include "PermissionsOnboardingDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPixmap>

DashboardWindow::DashboardWindow(DependencyContainer& container, std::function<void()> refreshLaunchAtLogin,
                                 QWidget* parent)
    : DashboardWindow(container, Hooks{std::move(refreshLaunchAtLogin)}, parent) {}

DashboardWindow::DashboardWindow(DependencyContainer& container, Hooks hooks, QWidget* parent)
    : QMainWindow(parent), m_account(std::make_unique<ContainerAccountActions>(container)),
      m_syncFailures(std::make_unique<SyncCoordinatorFailures>(container.configSyncCoordinator())),
      m_hideOnClose([] { return true; }), m_quit([] { QCoreApplication::quit(); }) {
    setObjectName(QStringLiteral("dashboardWindow"));
    setWindowTitle(QStringLiteral("Quillvane"));
    resize(kDefaultSize);
    if (const auto icon = BrandAssets::appIcon()) {
        setWindowIcon(QIcon(QPixmap::fromImage(*icon)));
    }

    // No toolbar: the sidebar carries the name, and the window's actions live on the window itself.
    auto* settingsAction = new QAction(QStringLiteral("Settings..."), this);
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settingsAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(settingsAction, &QAction::triggered, this, [] { AppNavigation::showSettings(); });
    addAction(settingsAction);
    auto* quitAction = new QAction(QStringLiteral("Quit"), this);
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(quitAction, &QAction::triggered, this, [this] { m_quit(); });
    addAction(quitAction);

    PermissionsCoordinator& permissions = container.permissionsCoordinator();
    DashboardServices services{
        container.authStore(), container.sessionCoordinator(), container.appSettings(),
        container.promptSettingsStore(), container.transcriptionHistoryStore(),
        container.knowledgeBaseStore(), container.notesStore(), container.dictationCoordinator(), permissions,
        container.audioInputDeviceStore(), *m_account, std::move(hooks.refreshLaunchAtLogin),
        // Shown inside the dashboard's presentation, as a page-sized card.
        [&permissions]() -> QWidget* { return new PermissionsOnboardingDialog(permissions); },
        BrandAssets::sidebarIcon()};
    services.loadTutorials = [&container] { return container.backendClient().getTutorials(); };
    services.suspendGlobalShortcuts = [&container](bool suspended) {
        container.setGlobalShortcutsSuspended(suspended);
    };
    services.shortVersion = AppUpdater::versionText();
    services.buildNumber = QString::number(AppUpdater::buildConfiguration().buildNumber);
    services.syncFailures = m_syncFailures.get();
    if (hooks.launchAtLogin) {
        m_launchAtLogin = std::make_unique<LaunchAtLoginSwitch>(*hooks.launchAtLogin);
        services.launchAtLogin = m_launchAtLogin.get();
    }
    if (AppUpdater* updater = hooks.updater; updater && updater->isConfigured()) {
        services.checkForUpdates = [updater] { updater->checkForUpdates(); };
    }
    m_view = new DashboardView(std::move(services), this);
    setCentralWidget(m_view);

    connect(&m_view->state(), &DashboardState::selectedSectionChanged, this,
            &DashboardWindow::selectedSectionChanged);
    connect(&AppNavigation::instance(), &AppNavigation::settingsRequested, m_view,
            &DashboardView::openSettings);
}

DashboardWindow::~DashboardWindow() {
    // The view refers to the account actions: it goes first.
    delete m_view;
}

QString DashboardWindow::selectedSection() const {
    const auto& section = m_view->state().selectedSection();
    return section ? AppSections::toRaw(*section) : QString();
}

void DashboardWindow::selectSection(const QString& section) {
    m_view->state().setSelectedSection(AppSections::fromRaw(section));
}

void DashboardWindow::closeEvent(QCloseEvent* event) {
    if (m_hideOnClose()) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
    m_quit();
}
