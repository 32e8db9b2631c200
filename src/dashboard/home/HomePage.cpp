#include "HomePage.h"

#include "AccountRules.h"
#include "AuthStore.h"
#include "DashboardLook.h"
#include "DashboardServices.h"
#include "FitToWidth.h"
#include "HistoryCard.h"
#include "HomeRules.h"
#include "SessionCoordinator.h"
#include "ShortcutHero.h"
#include "StorageNoticeLabel.h"
#include "SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
using namespace DashboardPalette;

enum ChipText { WordsWithSuffix, Words, Minutes, ShortMinutes, Pace };

// One usage figure: a symbol and one line of text on a pale capsule.
class StatChip : public RoundedBackground {
public:
    StatChip(const QString& symbol, QLabel*& text, QWidget* parent)
        : RoundedBackground(-1, QColor::fromRgbF(0.96, 0.97, 1.0), {}, parent) {
        setObjectName(QStringLiteral("statChip"));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(12, 8, 12, 8);
        row->setSpacing(8);
        row->addWidget(new SymbolView(symbol, 12, bodyColor(), this));
        text = makeLabel({}, DashboardFonts::font(12, QFont::DemiBold), bodyColor(), this);
        text->setObjectName(QStringLiteral("statChipText"));
        row->addWidget(text);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
};
} // namespace

HomePage::HomePage(DashboardState& state, DashboardServices& services, QWidget* parent)
    : QWidget(parent), m_services(services) {
    setObjectName(QStringLiteral("homePage"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 42, 28, 28);
    column->setSpacing(24);

    m_chips = new FitToWidth();
    m_chips->setObjectName(QStringLiteral("homeStatChips"));
    auto chip = [this](const QString& symbol, int text, QWidget* parent) {
        QLabel* label = nullptr;
        auto* widget = new StatChip(symbol, label, parent);
        m_chipTexts.append({label, text});
        return widget;
    };
    const QString rocket = QStringLiteral("rocket.fill");
    const QString clock = QStringLiteral("clock.fill");
    const QString medal = QStringLiteral("medal.fill");

    auto* oneRow = new QWidget();
    auto* one = new QHBoxLayout(oneRow);
    one->setContentsMargins(0, 0, 0, 0);
    one->setSpacing(10);
    one->addWidget(chip(rocket, WordsWithSuffix, oneRow));
    one->addWidget(chip(clock, Minutes, oneRow));
    one->addWidget(chip(medal, Pace, oneRow));
    m_chips->addAlternative(oneRow);

    auto* twoRows = new QWidget();
    auto* two = new QVBoxLayout(twoRows);
    two->setContentsMargins(0, 0, 0, 0);
    two->setSpacing(8);
    // Both rows keep to the trailing edge, their chips side by side at their own widths.
    auto* firstRow = new QHBoxLayout();
    firstRow->setSpacing(8);
    firstRow->addStretch(1);
    firstRow->addWidget(chip(rocket, Words, twoRows));
    firstRow->addWidget(chip(clock, ShortMinutes, twoRows));
    two->addLayout(firstRow);
    two->addWidget(chip(medal, Pace, twoRows), 0, Qt::AlignRight);
    m_chips->addAlternative(twoRows);

    auto* threeRows = new QWidget();
    auto* three = new QVBoxLayout(threeRows);
    three->setContentsMargins(0, 0, 0, 0);
    three->setSpacing(8);
    three->addWidget(chip(rocket, Words, threeRows), 0, Qt::AlignRight);
    three->addWidget(chip(clock, ShortMinutes, threeRows), 0, Qt::AlignRight);
    three->addWidget(chip(medal, Pace, threeRows), 0, Qt::AlignRight);
    m_chips->addAlternative(threeRows);

    m_header = new PageHeader(QString(), m_chips, this);
    m_header->titleLabel()->setObjectName(QStringLiteral("homeTitle"));
    column->addWidget(m_header);
    column->addWidget(new StorageNoticeLabel(this));
    column->addWidget(new ShortcutHero(services.appSettings, services.sessionCoordinator,
                                       services.dictationCoordinator, this));
    column->addWidget(new HistoryCard(services.historyStore, state, this));
    column->addStretch(1);

    AuthStore& auth = services.authStore;
    for (auto signal :
         {&AuthStore::providerChanged, &AuthStore::emailChanged, &AuthStore::displayNameChanged}) {
        connect(&auth, signal, this, &HomePage::syncHeader);
    }
    SessionCoordinator& session = services.sessionCoordinator;
    for (auto signal : {&SessionCoordinator::activeSessionTokenChanged, &SessionCoordinator::profileChanged,
                        &SessionCoordinator::totalWordsChanged, &SessionCoordinator::totalMinutesChanged}) {
        connect(&session, signal, this, &HomePage::syncHeader);
    }
    syncHeader();
}

void HomePage::syncHeader() {
    const SessionCoordinator& session = m_services.sessionCoordinator;
    m_header->setTitle(HomeRules::homeTitle(AccountIdentity::from(m_services.authStore, session)));
    const qint64 words = session.totalWords();
    const double minutes = session.totalMinutes();
    for (const auto& [label, kind] : m_chipTexts) {
        QString text;
        switch (kind) {
        case WordsWithSuffix:
            text = HomeRules::abbreviatedWordCount(words) + QStringLiteral(" words");
            break;
        case Words:
            text = HomeRules::abbreviatedWordCount(words);
            break;
        case Minutes:
            text = HomeRules::minutesChipText(minutes);
            break;
        case ShortMinutes:
            text = HomeRules::shortMinutesSummary(minutes);
            break;
        case Pace:
            text = HomeRules::averageWordsPerMinute(words, minutes);
            break;
        }
        if (label->text() != text) {
            label->setText(text);
        }
    }
    m_chips->updateGeometry();
}
