#include "DashboardView.h"

#include "AppSettings.h"
#include "AudioInputDeviceStore.h"
#include "CoordinatorVoiceNoteControl.h"
#include "DashboardHotkeyCaptureSheet.h"
#include "DashboardLook.h"
#include "DashboardSheets.h"
#include "DashboardSidebar.h"
#include "DictationCoordinator.h"
#include "FocusRing.h"
#include "GuidePage.h"
#include "HomePage.h"
#include "KnowledgePage.h"
#include "NotesPage.h"
#include "PermissionsCoordinator.h"
#include "PresentationHost.h"
#include "PromptSettingsStore.h"
#include "SettingsPage.h"
#include "SyncFailureNotice.h"
#include "TutorialsPage.h"
#include "WheelScrollsPage.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleFactory>

namespace {
using namespace DashboardPalette;

// A page that scrolls vertically: always as wide as the view (or its minimum width), and exactly as tall
// as its content needs at that width (heightForWidth), never taller; a short page fills the view.
class PageScrollArea : public QScrollArea {
public:
    explicit PageScrollArea(QWidget* page) {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(false);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidget(page);
        page->installEventFilter(this);
        // The canvas shows through: neither the area nor its viewport paints a background.
        setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
        page->setAutoFillBackground(false);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget() && event->type() == QEvent::LayoutRequest) {
            fit();
        }
        return QScrollArea::eventFilter(watched, event);
    }
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        fit();
    }

private:
    void fit() {
        QWidget* page = widget();
        if (!page) {
            return;
        }
        const int width = std::max(viewport()->width(), page->minimumSizeHint().width());
        const int need = page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height();
        const QSize size(width, std::max(need, viewport()->height()));
        if (page->size() != size) {
            page->resize(size);
        }
    }
};

QWidget* scrolling(QWidget* page) {
    return new PageScrollArea(page);
}

// The style under the window's style sheet. One for the process: the style sheet's proxies refer to it
// until the very end of a window's teardown, after the window's own members are gone.
QStyle* baseStyle() {
    static QStyle* const style = QStyleFactory::create(QStringLiteral("Fusion"));
    return style;
}

bool scrollsByDefault(AppSection section) {
    return section != AppSection::Settings;
}
} // namespace

DashboardView::DashboardView(DashboardServices services, QWidget* parent)
    : QWidget(parent), m_services(services) {
    setObjectName(QStringLiteral("dashboardView"));
    // Under a style sheet Qt hands a parent's palette and font down to its children only when told to; the
    // pages rely on inheriting the window's light palette whatever the desktop theme.
    QCoreApplication::setAttribute(Qt::AA_UseStyleSheetPropagationInWidgetStyles);
    if (QStyle* style = baseStyle()) {
        setStyle(style);
    }
    setPalette(widgetPalette());
    setFont(DashboardFonts::font(13));
    // Every standard control in the window (pages, sheets) takes the dashboard's look from here.
    setStyleSheet(DashboardLook::styleSheet());
    setMinimumSize(kMinimumSize);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_sidebar = new DashboardSidebar(m_state, m_services, this);
    m_sidebar->setFixedWidth(220);
    row->addWidget(m_sidebar);

    auto* detail = new QWidget(this);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 14, 14, 14);
    // The rounded light canvas the pages sit on.
    m_panel = new RoundedBackground(28, contentCanvas(), black(0.04), detail);
    m_panel->setObjectName(QStringLiteral("detailPanel"));
    auto* panelLayout = new QVBoxLayout(m_panel);
    panelLayout->setContentsMargins(0, 18, 18, 18);
    m_pages = new QStackedWidget(m_panel);
    m_pages->setObjectName(QStringLiteral("pages"));
    panelLayout->addWidget(m_pages);
    detailLayout->addWidget(m_panel);
    row->addWidget(detail, 1);

    for (const AppSection section : AppSections::all()) {
        QWidget* page = nullptr;
        if (section == AppSection::Home) {
            m_home = new HomePage(m_state, m_services);
            wheelScrollsPage(m_home);
            page = m_home;
        } else {
            page = new QWidget();
            page->setObjectName(AppSections::toRaw(section) + QStringLiteral("Page"));
        }
        m_pages->addWidget(scrollsByDefault(section) ? scrolling(page) : page);
    }

    KnowledgePage* dictionary = KnowledgePage::dictionary(m_services.knowledgeBaseStore, m_state);
    dictionary->addNotice(new SyncFailureNotice(m_services.syncFailures));
    setPage(AppSection::Dictionary, dictionary, false);
    KnowledgePage* snippets = KnowledgePage::snippets(m_services.knowledgeBaseStore, m_state);
    snippets->addNotice(new SyncFailureNotice(m_services.syncFailures));
    setPage(AppSection::Snippets, snippets, false);
    // The notes page fills the view with its two columns; where they stack, it scrolls.
    setPage(AppSection::Notes,
            new NotesPage(m_services.notesStore,
                          *new CoordinatorVoiceNoteControl(m_services.dictationCoordinator, this), m_state),
            true);
    setPage(AppSection::Settings, new SettingsPage(m_state, m_services), true);
    setPage(AppSection::Guide, new GuidePage(), true);
    setPage(AppSection::Tutorials, new TutorialsPage(m_state, m_services), true);
    m_host = new PresentationHost(this);
    connect(&m_state, &DashboardState::selectedSectionChanged, this, &DashboardView::syncSection);
    connect(&m_state, &DashboardState::captureIntentChanged, this, &DashboardView::syncCapture);
    connect(&m_state, &DashboardState::showResetConfirmationChanged, this,
            &DashboardView::syncResetConfirmation);
    connect(&m_services.dictationCoordinator, &DictationCoordinator::upgradePromptChanged, this,
            &DashboardView::syncSignInPrompt);
    connect(&m_services.permissionsCoordinator, &PermissionsCoordinator::showOnboardingChanged, this,
            &DashboardView::syncOnboarding);
    syncSection();
    syncCapture();
    syncSignInPrompt();
    syncOnboarding();
    syncResetConfirmation();
    connect(&m_state, &DashboardState::showCustomPromptEditorChanged, this,
            &DashboardView::syncCustomPromptEditor);
    syncCustomPromptEditor();
    connect(m_host, &PresentationHost::currentChanged, this, &DashboardView::syncShortcutSuspension);
    // Widgets made before the style sheet reached them resolved their palette against the desktop's: hand
    // the light palette down once more, now that every child is in place.
    setPalette(QPalette());
    setPalette(widgetPalette());
    FocusRing::install(this);
}

DashboardView::~DashboardView() {
    disconnect(m_host, nullptr, this, nullptr);
    if (m_shortcutsSuspended && m_services.suspendGlobalShortcuts)
        m_services.suspendGlobalShortcuts(false);
}

void DashboardView::syncShortcutSuspension() {
    // While the capture sheet shows, the global shortcuts let go of their keys, so the sheet sees the keys
    // that are the current shortcuts too; they come back when it closes.
    const bool suspend = m_host->currentKey() == kCapturePresentation;
    if (suspend == m_shortcutsSuspended)
        return;
    m_shortcutsSuspended = suspend;
    if (m_services.suspendGlobalShortcuts)
        m_services.suspendGlobalShortcuts(suspend);
}

QWidget* DashboardView::currentPage() const {
    QWidget* shown = m_pages->currentWidget();
    if (auto* area = qobject_cast<QScrollArea*>(shown)) {
        return area->widget();
    }
    return shown;
}

void DashboardView::setPage(AppSection section, QWidget* page, bool scrolls) {
    const int index = int(AppSections::all().indexOf(section));
    QWidget* old = m_pages->widget(index);
    wheelScrollsPage(page);
    m_pages->insertWidget(index, scrolls ? scrolling(page) : page);
    m_pages->removeWidget(old);
    old->deleteLater();
    syncSection();
}

void DashboardView::openSettings() {
    m_state.setSelectedSection(AppSection::Settings);
}

void DashboardView::resetSettingsToDefaults() {
    m_services.promptSettingsStore.resetToDefaults();
    m_services.appSettings.resetToDefaults();
    if (m_services.refreshLaunchAtLogin) {
        m_services.refreshLaunchAtLogin();
    }
    m_services.audioInputDeviceStore.refresh(m_services.appSettings.selectedInputDeviceUID());
    m_state.setHotkeyStatusText(QStringLiteral("Settings reset to defaults."));
    m_state.setCustomPromptDraft(m_services.promptSettingsStore.settings().customPrompt);
}

void DashboardView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous() && m_services.refreshLaunchAtLogin) {
        m_services.refreshLaunchAtLogin();
    }
}

void DashboardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), shellBackground());
}

void DashboardView::syncSection() {
    const AppSection section = m_state.selectedSection().value_or(AppSection::Home);
    m_pages->setCurrentIndex(int(AppSections::all().indexOf(section)));
}

void DashboardView::syncCapture() {
    const auto intent = m_state.captureIntent();
    if (!intent) {
        m_host->withdraw(kCapturePresentation);
        return;
    }
    auto close = [this] { m_state.setCaptureIntent(std::nullopt); };
    m_host->present(
        kCapturePresentation,
        [this, intent, close] {
            return DashboardHotkeyCaptureSheet::forIntent(*intent, m_services.appSettings, m_state, close);
        },
        close);
}

void DashboardView::syncSignInPrompt() {
    DictationCoordinator& dictation = m_services.dictationCoordinator;
    if (!dictation.upgradePrompt()) {
        m_host->withdraw(kSignInPromptPresentation);
        return;
    }
    auto dismiss = [&dictation] { dictation.setUpgradePrompt(std::nullopt); };
    m_host->present(
        kSignInPromptPresentation,
        [&dictation, dismiss] {
            return makeSignInPromptSheet(dictation.upgradePrompt().value_or(UpgradePrompt{}), dismiss);
        },
        dismiss);
}

void DashboardView::syncOnboarding() {
    PermissionsCoordinator& permissions = m_services.permissionsCoordinator;
    if (!permissions.showOnboarding()) {
        m_host->withdraw(kOnboardingPresentation);
        return;
    }
    auto close = [&permissions] { permissions.setShowOnboarding(false); };
    m_host->present(
        kOnboardingPresentation,
        [this, close] {
            return m_services.makeOnboardingView ? m_services.makeOnboardingView()
                                                 : makePlaceholderSheet(QStringLiteral("Permissions"), close);
        },
        close);
}

void DashboardView::syncResetConfirmation() {
    if (!m_state.showResetConfirmation()) {
        m_host->withdraw(kResetPresentation);
        return;
    }
    auto cancel = [this] { m_state.setShowResetConfirmation(false); };
    auto reset = [this] {
        resetSettingsToDefaults();
        m_state.setShowResetConfirmation(false);
    };
    m_host->present(
        kResetPresentation, [cancel, reset] { return makeResetConfirmation(cancel, reset); }, cancel);
}

void DashboardView::syncCustomPromptEditor() {
    if (!m_state.showCustomPromptEditor()) {
        m_host->withdraw(kCustomPromptPresentation);
        return;
    }
    m_host->present(
        kCustomPromptPresentation,
        [this] { return makeCustomPromptSheet(m_state, m_services.promptSettingsStore); },
        [this] { m_state.setShowCustomPromptEditor(false); });
}
