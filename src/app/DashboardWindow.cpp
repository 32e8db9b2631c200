#include "DashboardWindow.h"

#include "AppNavigation.h"
#include "AppleSignInButton.h"
#include "AuthStore.h"
#include "BrandAssets.h"
#include "TrayPanel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QPushButton* providerButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFixedHeight(36);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: #242429; background: white; border: 1px solid #d0d3da;"
                       " border-radius: 8px; font-size: 14px; font-weight: 600; }"
                       "QPushButton:pressed { background: #f0f2f6; }"));
    return button;
}

} // namespace

DashboardWindow::DashboardWindow(AuthStore& authStore, SignInActions actions, QWidget* parent)
    : QMainWindow(parent), m_authStore(authStore), m_hideOnClose([] { return true; }),
      m_quit([] { QCoreApplication::quit(); }) {
    setObjectName(QStringLiteral("dashboardWindow"));
    setWindowTitle(QStringLiteral("Quillvane"));
    resize(kDefaultSize);
    if (const auto icon = BrandAssets::appIcon()) {
        setWindowIcon(QIcon(QPixmap::fromImage(*icon)));
    }
    QPalette light = palette();
    light.setColor(QPalette::Window, QColor(0xf6, 0xf7, 0xfa));
    light.setColor(QPalette::WindowText, QColor(0x24, 0x24, 0x29));
    setPalette(light);

    auto* toolbar = new QToolBar(QStringLiteral("Quillvane"), this);
    toolbar->setObjectName(QStringLiteral("dashboardToolbar"));
    toolbar->setMovable(false);
    toolbar->setStyleSheet(QStringLiteral("QToolBar { background: #1f2026; border: none; padding: 6px 12px; }"
                                          "QToolBar QLabel { color: #f2f3f5; font-weight: 600; }"));
    auto* toolbarTitle = new QLabel(QStringLiteral("Quillvane"), toolbar);
    toolbar->addWidget(toolbarTitle);
    addToolBar(Qt::TopToolBarArea, toolbar);

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

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* sidebar = new QWidget(central);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(260);
    sidebar->setAttribute(Qt::WA_StyledBackground);
    sidebar->setStyleSheet(
        QStringLiteral("#sidebar { background: white; border-right: 1px solid #e4e6eb; }"));
    auto* side = new QVBoxLayout(sidebar);
    side->setContentsMargins(20, 24, 20, 20);
    side->setSpacing(12);
    auto* brand = new QHBoxLayout;
    auto* logo = new QLabel(sidebar);
    logo->setFixedSize(32, 32);
    logo->setScaledContents(true);
    if (const auto image = BrandAssets::sidebarIcon()) {
        logo->setPixmap(QPixmap::fromImage(*image));
    }
    auto* name = new QLabel(QStringLiteral("Quillvane"), sidebar);
    name->setStyleSheet(QStringLiteral("font-size: 20px; font-weight: 700;"));
    brand->addWidget(logo);
    brand->addWidget(name, 1);
    side->addLayout(brand);
    auto* version = new QLabel(TrayPanel::appVersionDisplay(), sidebar);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setTextFormat(Qt::PlainText);
    version->setStyleSheet(QStringLiteral("color: #6e707d; font-size: 12px;"));
    side->addWidget(version);
    side->addStretch(1);

    m_account = new QLabel(sidebar);
    m_account->setObjectName(QStringLiteral("accountLine"));
    m_account->setTextFormat(Qt::PlainText);
    m_account->setWordWrap(true);
    m_account->setStyleSheet(QStringLiteral("color: #43454f; font-size: 12px;"));
    side->addWidget(m_account);
    auto* apple = new AppleSignInButton(m_authStore, false, sidebar);
    connect(apple, &QPushButton::clicked, this, [actions] {
        if (actions.apple) {
            actions.apple();
        }
    });
    side->addWidget(apple);
    auto* google =
        providerButton(QStringLiteral("Sign in with Google"), QStringLiteral("googleSignInButton"), sidebar);
    connect(google, &QPushButton::clicked, this, [actions] {
        if (actions.google) {
            actions.google();
        }
    });
    side->addWidget(google);
    if (actions.microsoft) {
        auto* microsoft = providerButton(QStringLiteral("Sign in with Microsoft"),
                                         QStringLiteral("microsoftSignInButton"), sidebar);
        connect(microsoft, &QPushButton::clicked, this, [actions] { actions.microsoft(); });
        side->addWidget(microsoft);
    }
    row->addWidget(sidebar);

    auto* content = new QWidget(central);
    row->addWidget(content, 1);
    setCentralWidget(central);

    connect(&AppNavigation::instance(), &AppNavigation::settingsRequested, this,
            [this] { selectSection(QStringLiteral("settings")); });
    for (auto signal : {&AuthStore::statusTextChanged, &AuthStore::emailChanged,
                        &AuthStore::displayNameChanged, &AuthStore::providerChanged}) {
        connect(&m_authStore, signal, this, &DashboardWindow::syncAccount);
    }
    syncAccount();
}

void DashboardWindow::selectSection(const QString& section) {
    if (m_section != section) {
        m_section = section;
        emit selectedSectionChanged();
    }
}

void DashboardWindow::syncAccount() {
    QString text = m_authStore.statusText();
    if (m_authStore.email() && !m_authStore.email()->isEmpty() && !text.contains(*m_authStore.email())) {
        text = text.isEmpty() ? *m_authStore.email() : text + QLatin1Char('\n') + *m_authStore.email();
    }
    m_account->setText(text);
    m_account->setVisible(!text.isEmpty());
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
