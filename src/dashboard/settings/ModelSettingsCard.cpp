#include "ModelSettingsCard.h"

#include "DashboardLook.h"
#include "DashboardState.h"
#include "PageBits.h"
#include "PromptSettingsStore.h"
#include "SettingsRow.h"
#include "SettingsRules.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

using namespace SettingsRules;

namespace {

constexpr int kPadding = 14;
constexpr int kMark = 15;
constexpr int kTextLeft = kPadding + kMark + 14;

// The layout of a card's text: it sits right of the mark and wraps inside the card.
QVBoxLayout* textLayout(QWidget* card) {
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(kTextLeft, kPadding, kPadding, kPadding);
    layout->setSpacing(4);
    return layout;
}

} // namespace

ModelOptionCard::ModelOptionCard(const QString& title, const QString& body, QString value, QWidget* parent)
    : QAbstractButton(parent), m_value(std::move(value)) {
    setObjectName(m_value);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QVBoxLayout* layout = textLayout(this);
    QLabel* titleLabel =
        PageBits::label(title, PageBits::font(14, QFont::DemiBold), PageBits::titleColor, this);
    QLabel* bodyLabel = PageBits::label(body, PageBits::font(12), PageBits::mutedColor, this);
    bodyLabel->setWordWrap(true);
    for (QLabel* label : {titleLabel, bodyLabel}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(label);
    }
}

void ModelOptionCard::setSelected(bool selected) {
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void ModelOptionCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    QColor fill = m_selected ? PageBits::accentColor : QColor(255, 255, 255);
    fill.setAlphaF(m_selected ? 0.1 : 0.62);
    painter.fillPath(path, fill);
    QColor stroke = m_selected ? PageBits::accentColor : QColor(0, 0, 0);
    stroke.setAlphaF(m_selected ? 0.45 : 0.04);
    painter.setPen(QPen(stroke, 1));
    painter.drawPath(path);

    // The mark: a ring, with a filled centre when selected.
    const QRectF mark(kPadding + 0.75, kPadding + 2 + 0.75, kMark - 1.5, kMark - 1.5);
    const QColor markColor = m_selected ? PageBits::accentColor : PageBits::mutedColor;
    painter.setPen(QPen(markColor, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(mark);
    if (m_selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(markColor);
        painter.drawEllipse(mark.center(), 4, 4);
    }
}

ModelSettingsCard::ModelSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(QStringLiteral("Model & Instructions"),
                        QStringLiteral("Pick the transcription style first, then add a custom system prompt "
                                       "if you want Quillvane to follow specific formatting rules."),
                        parent),
      m_state(state), m_services(services) {
    setObjectName(QStringLiteral("modelCard"));
    QVBoxLayout* stack = contentLayout();

    auto* tiers = new QVBoxLayout;
    tiers->setSpacing(10);
    for (const ModelTier& tier : modelTiers()) {
        auto* card = new ModelOptionCard(tier.title, tier.description, tier.value);
        tiers->addWidget(card);
        m_cards.append(card);
        // No check against the stored tier: a click on the selected card writes and notifies again.
        connect(card, &QAbstractButton::clicked, this, [this, value = tier.value] {
            PromptSettings settings = m_services.promptSettingsStore.settings();
            settings.transcriptionModel = value;
            m_services.promptSettingsStore.setSettings(settings);
        });
    }
    stack->addLayout(tiers);

    auto* edit = new QPushButton(QStringLiteral("Edit Custom System Prompt"));
    edit->setObjectName(QStringLiteral("editCustomPromptButton"));
    m_promptRow = new SettingsRow(
        m_state, QStringLiteral("Custom system prompt"), QString(),
        QStringLiteral(
            "For best results, use Keystoner Deck and AI Mode. Tidewell Blend and Zephyrix Dash may "
            "not reliably follow them."),
        settingsAccessory(edit));
    stack->addWidget(m_promptRow);
    connect(edit, &QPushButton::clicked, this, [this] {
        // The editor always starts from the prompt exactly as stored.
        m_state.setCustomPromptDraft(m_services.promptSettingsStore.settings().customPrompt);
        m_state.setShowCustomPromptEditor(true);
    });

    QLabel* footnote = PageBits::label(
        QStringLiteral("Custom system prompts work best with Keystoner Deck and AI Mode. Tidewell Blend and "
                       "Zephyrix Dash may not reliably follow them."),
        PageBits::font(12, QFont::Medium), PageBits::mutedColor);
    footnote->setObjectName(QStringLiteral("customPromptFootnote"));
    footnote->setWordWrap(true);
    footnote->setContentsMargins(4, 0, 4, 0);
    stack->addWidget(footnote);

    connect(&m_services.promptSettingsStore, &PromptSettingsStore::settingsChanged, this,
            &ModelSettingsCard::sync);
    sync();
}

void ModelSettingsCard::sync() {
    const PromptSettings settings = m_services.promptSettingsStore.settings();
    for (ModelOptionCard* card : m_cards)
        card->setSelected(card->value() == settings.transcriptionModel);
    m_promptRow->setSubtitle(customPromptSummary(settings.customPrompt));
}
