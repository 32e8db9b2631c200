#include "ShortcutHero.h"

#include "AppSettings.h"
#include "DashboardLook.h"
#include "DictationCoordinator.h"
#include "ElidedLabel.h"
#include "HomeRules.h"
#include "SessionCoordinator.h"
#include "SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
using namespace DashboardPalette;

// One shortcut card: the caption over the keys, on a translucent white tile.
class ShortcutPill : public RoundedBackground {
public:
    ShortcutPill(const QString& caption, QLabel*& value, QWidget* parent)
        : RoundedBackground(12, white(0.14), {}, parent) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(12, 9, 12, 9);
        column->setSpacing(3);
        column->setSizeConstraint(QLayout::SetMinimumSize);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        column->addWidget(makeLabel(caption, DashboardFonts::font(11, QFont::DemiBold), white(0.78), this));
        value = makeLabel({}, DashboardFonts::font(13, QFont::Bold), Qt::white, this);
        column->addWidget(value);
    }
};

QCoro::Task<> retryFrom(QPointer<ShortcutHero> hero, DictationCoordinator& dictation,
                        std::function<void()> finished) {
    co_await dictation.retryLastSubmission();
    if (hero) {
        finished();
    }
}
} // namespace

ShortcutHero::ShortcutHero(AppSettings& settings, SessionCoordinator& session,
                           DictationCoordinator& dictation, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_session(session), m_dictation(dictation) {
    setObjectName(QStringLiteral("shortcutHero"));
    setMinimumHeight(178);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetMinimumSize);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(14);

    m_title = makeLabel({}, DashboardFonts::serif(33, QFont::DemiBold), Qt::white, this);
    m_title->setObjectName(QStringLiteral("shortcutHeroTitle"));
    m_title->setWordWrap(true);
    column->addWidget(m_title);

    m_subtitle = makeLabel({}, DashboardFonts::font(15, QFont::Medium), white(0.92), this);
    m_subtitle->setObjectName(QStringLiteral("shortcutHeroSubtitle"));
    m_subtitle->setWordWrap(true);
    m_subtitle->setMaximumWidth(620);
    // In a row of its own, so the height it is given is measured at the width it gets.
    auto* subtitleRow = new QHBoxLayout();
    subtitleRow->setContentsMargins(0, 0, 0, 0);
    subtitleRow->addWidget(m_subtitle, 1);
    subtitleRow->addStretch(0);
    column->addLayout(subtitleRow);

    auto* pills = new QHBoxLayout();
    pills->setSpacing(12);
    auto* dictate = new ShortcutPill(QStringLiteral("Dictate"), m_dictateValue, this);
    auto* aiMode = new ShortcutPill(QStringLiteral("AI Mode"), m_aiModeValue, this);
    m_dictateValue->setObjectName(QStringLiteral("dictatePillValue"));
    m_aiModeValue->setObjectName(QStringLiteral("aiModePillValue"));
    pills->addWidget(dictate);
    pills->addWidget(aiMode);
    pills->addStretch(1);
    column->addLayout(pills);

    auto* saved = new QHBoxLayout();
    saved->setSpacing(8);
    saved->addWidget(new SymbolView(QStringLiteral("hourglass.bottomhalf.filled"), 13, white(0.86), this));
    m_timeSaved = makeLabel({}, DashboardFonts::font(13, QFont::DemiBold), white(0.86), this);
    m_timeSaved->setObjectName(QStringLiteral("timeSaved"));
    saved->addWidget(m_timeSaved);
    saved->addStretch(1);
    column->addSpacing(4);
    column->addLayout(saved);

    m_retryRow = new QWidget(this);
    m_retryRow->setObjectName(QStringLiteral("retryRow"));
    auto* retry = new QHBoxLayout(m_retryRow);
    retry->setContentsMargins(0, 2, 0, 0);
    retry->setSpacing(10);
    m_retryButton =
        new DashboardSecondaryButton(QStringLiteral("Retry Last Submission"), accentColor(), m_retryRow);
    m_retryButton->setObjectName(QStringLiteral("retryButton"));
    retry->addWidget(m_retryButton, 0, Qt::AlignVCenter);
    m_errorLine = new ElidedLabel(2, m_retryRow);
    m_errorLine->setObjectName(QStringLiteral("retryError"));
    m_errorLine->setFont(DashboardFonts::font(12, QFont::DemiBold));
    m_errorLine->setColor(white(0.92));
    // The message beside the button, centred on it; without a message the button keeps its own width.
    retry->addWidget(m_errorLine, 1, Qt::AlignVCenter);
    retry->addStretch();
    column->addWidget(m_retryRow);
    connect(m_retryButton, &QPushButton::clicked, this, &ShortcutHero::startRetry);

    connect(&m_settings, &AppSettings::hotkeyChanged, this, &ShortcutHero::sync);
    connect(&m_settings, &AppSettings::smartEditHotkeyChanged, this, &ShortcutHero::sync);
    connect(&m_session, &SessionCoordinator::totalWordsChanged, this, &ShortcutHero::sync);
    connect(&m_session, &SessionCoordinator::totalMinutesChanged, this, &ShortcutHero::sync);
    connect(&m_dictation, &DictationCoordinator::canRetryLastSubmissionChanged, this, &ShortcutHero::sync);
    connect(&m_dictation, &DictationCoordinator::lastErrorMessageChanged, this, &ShortcutHero::sync);
    sync();
}

void ShortcutHero::sync() {
    const QString dictation = m_settings.hotkey().displayString();
    const QString aiMode = m_settings.smartEditHotkey().displayString();
    m_title->setText(QStringLiteral("Hold ") + dictation + QStringLiteral(" to dictate anywhere."));
    m_subtitle->setText(
        QStringLiteral("Quillvane keeps punctuation, formatting, and app context aligned while you "
                       "work. AI Mode is always one shortcut away with ") +
        aiMode + QStringLiteral("."));
    m_dictateValue->setText(dictation);
    m_aiModeValue->setText(aiMode);
    m_timeSaved->setText(HomeRules::timeSavedSummary(m_session.totalWords(), m_session.totalMinutes()) +
                         QStringLiteral(" compared with typing"));

    const bool canRetry = m_dictation.canRetryLastSubmission();
    const std::optional<QString>& error = m_dictation.lastErrorMessage();
    m_retryRow->setVisible(canRetry || error.has_value());
    m_retryButton->setEnabled(canRetry && !m_retryInFlight);
    m_errorLine->setText(error.value_or(QString()));
    m_errorLine->setVisible(error.has_value());
}

void ShortcutHero::startRetry() {
    if (m_retryInFlight || !m_dictation.canRetryLastSubmission()) {
        return;
    }
    m_retryInFlight = true;
    sync();
    QPointer<ShortcutHero> self(this);
    retryFrom(self, m_dictation, [self] {
        self->m_retryInFlight = false;
        self->sync();
    });
}

void ShortcutHero::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 24, 24);
    painter.setClipPath(clip);
    painter.fillPath(clip, heroBackground(QRectF(rect())));
    // The decorative circle: 230 px, moved 460 px right of the leading edge and 50 px up.
    const QRectF circle(460, (height() - 230) / 2.0 - 50, 230, 230);
    painter.setPen(Qt::NoPen);
    painter.setBrush(white(0.1));
    painter.drawEllipse(circle);
}
