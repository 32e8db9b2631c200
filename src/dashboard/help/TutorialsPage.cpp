#include "TutorialsPage.h"

#include "DashboardClipboard.h"
#include "DashboardLook.h"
#include "DashboardServices.h"
#include "DashboardState.h"
#include "Scheduler.h"
#include "TutorialsRules.h"
#include "WidgetLifetime.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QShowEvent>
#include <QVBoxLayout>

#include <memory>

using namespace DashboardPalette;

namespace {
// How long "Copy Link" reads "Copied" after a copy.
constexpr std::chrono::milliseconds kCopiedFor{1500};
} // namespace

TutorialsPage::TutorialsPage(DashboardState& state, const DashboardServices& services, QWidget* parent)
    : TutorialsPage(state, services.loadTutorials, services.openURL, parent) {}

TutorialsPage::TutorialsPage(DashboardState& state, TutorialsLoader::Fetch fetch,
                             TutorialsLoader::Opener open, QWidget* parent)
    : QWidget(parent), m_state(state),
      m_loader(new TutorialsLoader(state, std::move(fetch), std::move(open), this)) {
    setObjectName(QStringLiteral("tutorialsPage"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 42, 28, 28);
    column->setSpacing(20);

    auto* reload = new DashboardSecondaryButton(QStringLiteral("Reload"), accentColor());
    reload->setObjectName(QStringLiteral("tutorialsReloadButton"));
    connect(reload, &QPushButton::clicked, this, [this] { m_loader->loadTutorials(); });
    column->addWidget(new PageHeader(QStringLiteral("Tutorials"), reload, this));

    auto* card = new SurfaceCard(this);
    card->setObjectName(QStringLiteral("tutorialsCard"));
    card->contentLayout()->setSpacing(12);
    m_status = makeLabel({}, DashboardFonts::font(13), mutedColor(), card);
    m_status->setObjectName(QStringLiteral("tutorialsStatus"));
    m_status->setWordWrap(true);
    card->contentLayout()->addWidget(m_status);
    m_rows = new QWidget(card);
    m_rows->setObjectName(QStringLiteral("tutorialsRows"));
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(12);
    card->contentLayout()->addWidget(m_rows);
    column->addWidget(card);
    column->addStretch(1);

    connect(&m_state, &DashboardState::tutorialsStatusTextChanged, this, &TutorialsPage::syncStatus);
    connect(&m_state, &DashboardState::tutorialsChanged, this, &TutorialsPage::rebuildRows);
    syncStatus();
    rebuildRows();
}

void TutorialsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown again with tutorials already listed, the page keeps them; only Reload fetches anew.
    if (!event->spontaneous() && m_state.tutorials().isEmpty()) {
        m_loader->loadTutorials();
    }
}

void TutorialsPage::syncStatus() {
    if (m_status->text() != m_state.tutorialsStatusText()) {
        m_status->setText(m_state.tutorialsStatusText());
    }
}

void TutorialsPage::rebuildRows() {
    while (QLayoutItem* item = m_rowsLayout->takeAt(0)) {
        discardLater(item->widget());
        delete item;
    }
    const QList<TutorialItemDTO>& tutorials = m_state.tutorials();
    for (qsizetype i = 0; i < tutorials.size(); ++i) {
        m_rowsLayout->addWidget(makeRow(tutorials[i]));
        if (i + 1 < tutorials.size()) {
            QFrame* divider = makeDivider(black(0.08), m_rows);
            divider->setObjectName(QStringLiteral("tutorialDivider"));
            m_rowsLayout->addWidget(divider);
        }
    }
    m_rows->setVisible(!tutorials.isEmpty());
}

QWidget* TutorialsPage::makeRow(const TutorialItemDTO& tutorial) {
    auto* row = new QWidget(m_rows);
    row->setObjectName(QStringLiteral("tutorialRow"));
    auto* column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    QLabel* title = makeLabel(tutorial.title, DashboardFonts::font(14, QFont::DemiBold), titleColor(), row);
    title->setObjectName(QStringLiteral("tutorialTitle"));
    title->setWordWrap(true);
    column->addWidget(title);
    QLabel* description = makeLabel(tutorial.description, DashboardFonts::font(13), bodyColor(), row);
    description->setObjectName(QStringLiteral("tutorialDescription"));
    description->setWordWrap(true);
    column->addWidget(description);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    auto* watch = new DashboardPrimaryButton(QStringLiteral("Watch on YouTube"), row);
    watch->setObjectName(QStringLiteral("tutorialWatchButton"));
    const QString url = tutorial.url;
    connect(watch, &QPushButton::clicked, this, [this, url] { m_loader->openTutorialURL(url); });
    buttons->addWidget(watch, 0, Qt::AlignVCenter);
    auto* copy = new DashboardSecondaryButton(QStringLiteral("Copy Link"), accentColor(), row);
    copy->setObjectName(QStringLiteral("tutorialCopyButton"));
    auto reset = std::make_shared<TimerHandle>();
    connect(copy, &QPushButton::clicked, this, [copy, url, reset] {
        copyToClipboard(url);
        // The button says "Copied" for a moment (a new copy starts the moment again); the row may be gone
        // by the time it ends.
        copy->setText(QStringLiteral("Copied"));
        reset->cancel();
        *reset = Scheduler::current().singleShot(kCopiedFor, [button = QPointer<QPushButton>(copy)] {
            if (button) {
                button->setText(QStringLiteral("Copy Link"));
            }
        });
    });
    buttons->addWidget(copy, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    column->addLayout(buttons);
    return row;
}
