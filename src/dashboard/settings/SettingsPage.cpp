#include "SettingsPage.h"

#include "AppLogger.h"
#include "AppSettings.h"
#include "AudioInputDeviceStore.h"
#include "DashboardLook.h"
#include "DashboardState.h"
#include "ModelSettingsCard.h"
#include "OutputSettingsCards.h"
#include "PageBits.h"
#include "PermissionsCoordinator.h"
#include "PromptSettingsStore.h"
#include "ShortcutSettingsCard.h"
#include "StartupSettingsCard.h"
#include "SymbolIcons.h"
#include "SyncFailureNotice.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>

#include <algorithm>

using namespace SettingsRules;

QWidget* settingsSectionHeader(const QString& title, const QString& body) {
    auto* header = new QWidget;
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(
        makeLabel(title, DashboardFonts::rounded(17, QFont::DemiBold), DashboardPalette::titleColor()));
    QLabel* text = makeLabel(body, DashboardFonts::font(13), DashboardPalette::mutedColor());
    text->setWordWrap(true);
    layout->addWidget(text);
    return header;
}

SettingsGroupCard::SettingsGroupCard(const QString& title, const QString& body, QWidget* parent)
    : SurfaceCard(parent) {
    contentLayout()->setSpacing(16);
    contentLayout()->addWidget(settingsSectionHeader(title, body));
}

QWidget* settingsAccessoryBox(QBoxLayout*& layout, int direction, int spacing) {
    auto* box = new QWidget;
    box->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    box->setMinimumWidth(1);
    layout = new QBoxLayout(QBoxLayout::Direction(direction), box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QWidget* settingsAccessory(QWidget* control) {
    QBoxLayout* layout = nullptr;
    QWidget* box = settingsAccessoryBox(layout, QBoxLayout::LeftToRight, 0);
    layout->addWidget(control);
    return box;
}

QWidget* settingsSegments(const QString& objectName, const QList<SettingsRules::Option>& options, int width,
                          QButtonGroup* group) {
    auto* segments = new QWidget;
    segments->setObjectName(objectName);
    segments->setFixedWidth(width);
    // One control: a light track with the chosen segment raised on it (drawn by the window's style sheet).
    segments->setProperty(DashboardLook::segmentsProperty, true);
    segments->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(segments);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    // Not exclusive: a stored value outside the options shows no segment.
    group->setExclusive(false);
    for (qsizetype i = 0; i < options.size(); ++i) {
        auto* button = new QPushButton(options.at(i).label);
        button->setCheckable(true);
        button->setObjectName(options.at(i).value);
        group->addButton(button, int(i));
        layout->addWidget(button);
    }
    return segments;
}

// The open row's help: white, outlined in the accent, with a soft shadow. The whole layer lets the mouse
// through, so it never blocks the controls it covers.
class SettingsHelpBubble final : public QWidget {
public:
    static constexpr int kShadow = 16;

    explicit SettingsHelpBubble(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("helpBubble"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(kShadow + 12, kShadow + 10, kShadow + 12, kShadow + 10);
        m_text = PageBits::label(QString(), PageBits::font(12, QFont::Medium), QColor(54, 71, 105));
        m_text->setObjectName(QStringLiteral("helpBubbleText"));
        m_text->setWordWrap(true);
        m_text->setFixedWidth(270);
        layout->addWidget(m_text);
        hide();
    }

    QString text() const { return m_text->text(); }
    void setText(const QString& text) {
        m_text->setText(text);
        adjustSize();
    }
    // The bubble's own rectangle, without the margin its shadow is drawn in.
    QRect bubbleRect() const { return rect().adjusted(kShadow, kShadow, -kShadow, -kShadow); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bubble = QRectF(bubbleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
        // A soft shadow below: rings of falling opacity, offset downwards.
        for (int ring = kShadow; ring > 0; ring -= 2) {
            QPainterPath shade;
            shade.addRoundedRect(
                bubble.translated(0, 6).adjusted(-ring / 2.0, -ring / 2.0, ring / 2.0, ring / 2.0),
                12 + ring / 2.0, 12 + ring / 2.0);
            painter.fillPath(shade, QColor(0, 0, 0, 4));
        }
        QPainterPath path;
        path.addRoundedRect(bubble, 12, 12);
        painter.fillPath(path, Qt::white);
        painter.setPen(QPen(QColor(46, 99, 219, 61), 1));
        painter.drawPath(path);
    }

private:
    QLabel* m_text;
};

namespace {

// The info icon of a row with help: its whole 18 x 18 square is the hover area.
class HelpIcon final : public QWidget {
public:
    HelpIcon(DashboardState& state, QString rowID, QWidget* parent)
        : QWidget(parent), m_state(state), m_rowID(std::move(rowID)) {
        setObjectName(QStringLiteral("helpIcon"));
        setFixedSize(18, 18);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(new SymbolView(QStringLiteral("info.circle"), 13, QColor(46, 99, 219), this));
    }

protected:
    void enterEvent(QEnterEvent* event) override {
        m_state.setActiveSettingsHelpID(helpAfterEnter(m_state.activeSettingsHelpID(), m_rowID));
        QWidget::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        m_state.setActiveSettingsHelpID(helpAfterLeave(m_state.activeSettingsHelpID(), m_rowID));
        QWidget::leaveEvent(event);
    }

private:
    DashboardState& m_state;
    QString m_rowID;
};

} // namespace

SettingsRow::SettingsRow(DashboardState& state, const QString& title, const QString& subtitle,
                         const std::optional<QString>& helpText, QWidget* accessory, QWidget* parent)
    : QWidget(parent), m_rowID(title), m_helpText(helpText), m_accessory(accessory) {
    setObjectName(title);
    m_text = new QWidget(this);
    auto* text = new QVBoxLayout(m_text);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(3);
    m_title = PageBits::label(title, PageBits::font(14, QFont::DemiBold), QColor(36, 36, 41));
    m_subtitle = PageBits::label(subtitle, PageBits::font(12), QColor(115, 115, 125));
    m_subtitle->setWordWrap(true);
    auto* titleLine = new QHBoxLayout;
    titleLine->setContentsMargins(0, 0, 0, 0);
    titleLine->setSpacing(6);
    titleLine->addWidget(m_title);
    if (m_helpText) {
        m_helpIcon = new HelpIcon(state, m_rowID, m_text);
        titleLine->addWidget(m_helpIcon);
    }
    titleLine->addStretch(1);
    // The title and subtitle stay together, centred in a row made taller by its control.
    text->addStretch(1);
    text->addLayout(titleLine);
    text->addWidget(m_subtitle);
    text->addStretch(1);
    m_layout = new QBoxLayout(QBoxLayout::LeftToRight, this);
    m_layout->setContentsMargins(14, 12, 14, 12);
    m_layout->setSpacing(16);
    m_layout->addWidget(m_text, 1);
    m_layout->addWidget(accessory, 0);
}

QString SettingsRow::subtitle() const {
    return m_subtitle->text();
}

void SettingsRow::setSubtitle(const QString& subtitle) {
    if (m_subtitle->text() != subtitle)
        m_subtitle->setText(subtitle);
}

void SettingsRow::resizeEvent(QResizeEvent* event) {
    arrange(event->size().width());
    QWidget::resizeEvent(event);
}

void SettingsRow::arrange(int width) {
    // Side by side, the title must fit on its line next to the control and a spacer of 12, and the
    // subtitle must keep a readable measure (not a word or two a line).
    constexpr int kSubtitleMeasure = 240;
    const int icon = m_helpIcon ? 6 + m_helpIcon->width() : 0;
    const int subtitle =
        m_subtitle->text().isEmpty()
            ? 0
            : std::min(m_subtitle->fontMetrics().horizontalAdvance(m_subtitle->text()), kSubtitleMeasure);
    const int text = std::max(m_title->sizeHint().width() + icon + 12, subtitle);
    const int need = 28 + text + 16 + m_accessory->sizeHint().width();
    const RowArrangement next = rowArrangement(width, need, m_arrangement);
    if (next == m_arrangement)
        return;
    m_arrangement = next;
    m_layout->setDirection(next == RowArrangement::Horizontal ? QBoxLayout::LeftToRight
                                                              : QBoxLayout::TopToBottom);
    m_layout->setSpacing(next == RowArrangement::Horizontal ? 16 : 12);
}

void SettingsRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(path, QColor(255, 255, 255, 158));
    painter.setPen(QPen(QColor(0, 0, 0, 10), 1));
    painter.drawPath(path);
}

SettingsPage::SettingsPage(DashboardState& state, DashboardServices services, QWidget* parent)
    : QWidget(parent), m_state(state), m_services(services) {
    setObjectName(QStringLiteral("settingsPage"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(28, 42, 28, 28);
    stack->setSpacing(20);
    auto* header = new PageHeader(QStringLiteral("Settings"), nullptr);
    header->setObjectName(QStringLiteral("settingsHeader"));
    stack->addWidget(header);
    stack->addWidget(new SyncFailureNotice(m_services.syncFailures));
    stack->addWidget(
        new SectionIntro(QStringLiteral("Tune Quillvane to the way you work"),
                         QStringLiteral("Adjust microphone, language, models, shortcuts, and output "
                                        "behavior.")));
    stack->addWidget(inputAndLanguageCard());
    stack->addWidget(new ModelSettingsCard(m_state, m_services));
    stack->addWidget(new ShortcutSettingsCard(m_state, m_services));
    stack->addWidget(new OutputSettingsCard(m_state, m_services));
    stack->addWidget(new StartupSettingsCard(m_state, m_services));
    stack->addWidget(new ResetSettingsCard(m_state, m_services));
    stack->addStretch(1);

    m_helpBubble = new SettingsHelpBubble(this);
    connect(&m_state, &DashboardState::activeSettingsHelpIDChanged, this, &SettingsPage::syncHelpBubble);

    connect(&m_services.audioInputDeviceStore, &AudioInputDeviceStore::devicesChanged, this,
            &SettingsPage::syncMicrophone);
    connect(&m_services.audioInputDeviceStore, &AudioInputDeviceStore::statusTextChanged, this,
            &SettingsPage::syncMicrophone);
    connect(&m_services.appSettings, &AppSettings::selectedInputDeviceUIDChanged, this,
            &SettingsPage::syncMicrophone);
    connect(&m_services.promptSettingsStore, &PromptSettingsStore::settingsChanged, this,
            &SettingsPage::syncPromptSettings);
    syncMicrophone();
    syncPromptSettings();
}

QWidget* SettingsPage::helpBubble() const {
    return m_helpBubble;
}

void SettingsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The rows move when the page reflows; the bubble follows its row.
    if (m_helpBubble->isVisible())
        QMetaObject::invokeMethod(this, &SettingsPage::syncHelpBubble, Qt::QueuedConnection);
}

void SettingsPage::syncHelpBubble() {
    const std::optional<QString>& open = m_state.activeSettingsHelpID();
    SettingsRow* owner = nullptr;
    for (SettingsRow* row : findChildren<SettingsRow*>()) {
        if (bubbleVisible(open, row->rowID(), row->helpText().has_value())) {
            owner = row;
            break;
        }
    }
    if (!owner) {
        m_helpBubble->hide();
        return;
    }
    m_helpBubble->setText(*owner->helpText());
    // Below the row, indented from its text; above the row when the page ends too soon for it.
    const QRect bubble = m_helpBubble->bubbleRect();
    const QPoint text = owner->textBlock()->mapTo(this, QPoint(0, 0));
    const int rowTop = owner->mapTo(this, QPoint(0, 0)).y();
    const int rowBottom = rowTop + owner->height();
    int x = std::min(text.x() + 28, width() - bubble.right() - 8);
    int y = rowBottom + 6;
    if (y + bubble.height() > height() && rowTop - 6 - bubble.height() >= 0)
        y = rowTop - 6 - bubble.height();
    m_helpBubble->move(std::max(0, x) - bubble.left(), y - bubble.top());
    m_helpBubble->raise();
    m_helpBubble->show();
}

QWidget* SettingsPage::inputAndLanguageCard() {
    auto* card = new SettingsGroupCard(QStringLiteral("Input & Language"),
                                       QStringLiteral("Choose the microphone and the general dictation "
                                                      "context before you fine-tune output."));
    card->setObjectName(QStringLiteral("inputAndLanguageCard"));
    QVBoxLayout* stack = card->contentLayout();

    auto* microphone = new QWidget;
    auto* microphoneLayout = new QVBoxLayout(microphone);
    microphoneLayout->setContentsMargins(0, 0, 0, 0);
    m_microphone = new QComboBox;
    m_microphone->setObjectName(QStringLiteral("microphonePicker"));
    m_microphone->setFixedWidth(240);
    m_microphoneError = PageBits::label(QString(), PageBits::font(12), QColor(0xB4, 0x23, 0x18));
    m_microphoneError->setObjectName(QStringLiteral("microphoneError"));
    m_microphoneError->setWordWrap(true);
    m_microphoneError->setMaximumWidth(240);
    m_microphoneError->hide();
    microphoneLayout->addWidget(m_microphone);
    microphoneLayout->addWidget(m_microphoneError);
    m_microphoneRow = new SettingsRow(m_state, QStringLiteral("Microphone"), QString(), std::nullopt,
                                      settingsAccessory(microphone));
    stack->addWidget(m_microphoneRow);
    connect(m_microphone, &QComboBox::activated, this, &SettingsPage::pickMicrophone);

    m_domain = new QComboBox;
    m_domain->setObjectName(QStringLiteral("domainPicker"));
    m_domain->setFixedWidth(180);
    for (const Option& option : workDomainOptions())
        m_domain->addItem(option.label, option.value);
    stack->addWidget(new SettingsRow(m_state, QStringLiteral("Domain"),
                                     QStringLiteral("Tune Quillvane for the work you do."), std::nullopt,
                                     settingsAccessory(m_domain)));
    connect(m_domain, &QComboBox::activated, this, [this](int index) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.workDomainSelection = workDomainOptions().at(index).value;
        m_services.promptSettingsStore.setSettings(settings);
    });

    m_customDomain = new QLineEdit;
    m_customDomain->setObjectName(QStringLiteral("customDomainField"));
    m_customDomain->setPlaceholderText(QStringLiteral("Custom Domain"));
    stack->addWidget(m_customDomain);
    connect(m_customDomain, &QLineEdit::textEdited, this, [this](const QString& text) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.workDomainCustom = text;
        m_services.promptSettingsStore.setSettings(settings);
    });

    m_language = new QButtonGroup(this);
    QWidget* segments =
        settingsSegments(QStringLiteral("languageSegments"), languageSegments(), 220, m_language);
    stack->addWidget(
        new SettingsRow(m_state, QStringLiteral("Language"),
                        QStringLiteral("Keep transcription flexible or constrain it to English."),
                        std::nullopt, settingsAccessory(segments)));
    connect(m_language, &QButtonGroup::idClicked, this, [this](int id) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.transcriptionLanguageMode = languageSegments().at(id).value;
        m_services.promptSettingsStore.setSettings(settings);
    });

    auto* review = new QPushButton(QStringLiteral("Review"));
    review->setObjectName(QStringLiteral("permissionsReviewButton"));
    stack->addWidget(
        new SettingsRow(m_state, QStringLiteral("Permissions Setup"),
                        QStringLiteral("Review microphone and accessibility permissions."),
                        QStringLiteral("Use this if Quillvane cannot hear you, react to global "
                                       "hotkeys, or interact with other apps the way you expect."),
                        settingsAccessory(review)));
    connect(review, &QPushButton::clicked, this, [this] {
        m_services.permissionsCoordinator.refresh();
        m_services.permissionsCoordinator.setShowOnboarding(true);
    });
    return card;
}

void SettingsPage::syncMicrophone() {
    const QSignalBlocker blocker(m_microphone);
    m_microphoneOptions = microphoneOptions(m_services.audioInputDeviceStore.devices());
    m_microphone->clear();
    for (const Option& option : m_microphoneOptions)
        m_microphone->addItem(option.label, option.value);
    m_microphone->setCurrentIndex(int(
        indexOfValue(m_microphoneOptions, microphoneValue(m_services.appSettings.selectedInputDeviceUID()))));
    m_microphoneRow->setSubtitle(m_services.audioInputDeviceStore.statusText());
}

void SettingsPage::pickMicrophone(int index) {
    const std::optional<QString> uid = pickedDeviceUID(m_microphoneOptions.at(index).value);
    try {
        m_services.audioInputDeviceStore.selectDevice(uid);
    } catch (const AudioInputDeviceError& error) {
        // The stored choice stays; say why the switch did not happen instead of snapping back silently.
        AppLogger::error(QStringLiteral("Microphone switch failed: ") + error.message());
        m_microphoneError->setText(error.message());
        m_microphoneError->show();
        syncMicrophone();
        return;
    }
    m_microphoneError->hide();
    m_services.appSettings.setSelectedInputDeviceUID(uid);
    syncMicrophone();
}

void SettingsPage::syncPromptSettings() {
    const PromptSettings settings = m_services.promptSettingsStore.settings();
    {
        const QSignalBlocker blocker(m_domain);
        m_domain->setCurrentIndex(int(indexOfValue(workDomainOptions(), settings.workDomainSelection)));
    }
    m_customDomain->setVisible(customDomainFieldVisible(settings.workDomainSelection));
    if (m_customDomain->text() != settings.workDomainCustom)
        m_customDomain->setText(settings.workDomainCustom);
    const qsizetype language = indexOfValue(languageSegments(), settings.transcriptionLanguageMode);
    for (QAbstractButton* button : m_language->buttons()) {
        const QSignalBlocker blocker(button);
        button->setChecked(m_language->id(button) == language);
    }
}
