#include "DashboardSidebar.h"

#include "AccountRules.h"
#include "AppSettings.h"
#include "AppleSignInButton.h"
#include "AuthStore.h"
#include "DashboardLook.h"
#include "DashboardServices.h"
#include "DashboardState.h"
#include "ElidedLabel.h"
#include "SessionCoordinator.h"
#include "SymbolIcons.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace DashboardPalette;

namespace {
// One line of account text: a long name or address ends in "…" (the whole of it in the tooltip).
ElidingLabel* elidingLabel(const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new ElidingLabel(1, parent);
    label->setFont(font);
    setLabelColor(label, color);
    return label;
}

void setLine(QLabel* label, const QString& text) {
    label->setText(text);
    label->setToolTip(text);
}
// The rows' scroll area asks for the rows' whole height. QScrollArea's own size hint is capped at 24 lines
// of its font, which is shorter than seven rows with the dashboard's font.
class RowListArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        return (widget() ? widget()->sizeHint() : QSize()) + QSize(frame, frame);
    }
};
} // namespace

NavRow::NavRow(AppSection section, QWidget* parent) : QAbstractButton(parent), m_section(section) {
    setObjectName(QStringLiteral("navRow_") + AppSections::toRaw(section));
    setText(AppSections::title(section));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFont(DashboardFonts::font(14, QFont::Medium));
}

void NavRow::setSelected(bool selected) {
    if (m_selected != selected) {
        m_selected = selected;
        update();
    }
}

QColor NavRow::foregroundColor() const {
    return m_selected ? sidebarPrimaryText() : sidebarSecondaryText();
}

void NavRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal bandHeight = qMin<qreal>(42, height() - 4);
    const QRectF band(0, (height() - bandHeight) / 2.0, width(), bandHeight);
    if (m_selected) {
        QPainterPath path;
        path.addRoundedRect(band, 9, 9);
        QColor fill = accentColor();
        fill.setAlphaF(0.95);
        painter.fillPath(path, fill);
    }
    const QColor color = foregroundColor();
    const int symbolSize = 16;
    painter.drawPixmap(QPointF(12, band.center().y() - symbolSize / 2.0),
                       SymbolIcons::pixmap(AppSections::symbol(m_section), QSize(symbolSize, symbolSize),
                                           color, devicePixelRatioF()));
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(band.adjusted(12 + symbolSize + 12, 0, -12, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}

SidebarButton::SidebarButton(Kind kind, QWidget* parent) : QPushButton(parent), m_kind(kind) {
    setCursor(Qt::PointingHandCursor);
    setFont(kind == Kind::Bordered ? DashboardFonts::font(12, QFont::Medium)
                                   : DashboardFonts::font(13, QFont::DemiBold));
    setSizePolicy(kind == Kind::Bordered ? QSizePolicy::Maximum : QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SidebarButton::sizeHint() const {
    const QFontMetrics metrics(font());
    switch (m_kind) {
    case Kind::Outlined:
        return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 20};
    case Kind::Bordered:
        return {metrics.horizontalAdvance(text()) + 20, metrics.height() + 10};
    }
    return {};
}

QSize SidebarButton::minimumSizeHint() const {
    return m_kind == Kind::Bordered ? sizeHint() : QSize(60, sizeHint().height());
}

void SidebarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? (isDown() ? 0.8 : 1.0) : 0.45);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    painter.setFont(font());
    switch (m_kind) {
    case Kind::Outlined:
        path.addRoundedRect(area, 10, 10);
        painter.setPen(QPen(white(0.14), 1));
        painter.drawPath(path);
        painter.setPen(sidebarPrimaryText());
        painter.drawText(rect(), Qt::AlignCenter, text());
        break;
    case Kind::Bordered:
        path.addRoundedRect(area, 6, 6);
        painter.fillPath(path, white(0.12));
        painter.setPen(QPen(white(0.18), 1));
        painter.drawPath(path);
        painter.setPen(sidebarPrimaryText());
        painter.drawText(rect(), Qt::AlignCenter, text());
        break;
    }
}

DashboardSidebar::DashboardSidebar(DashboardState& state, DashboardServices& services, QWidget* parent)
    : QWidget(parent), m_state(state), m_services(services) {
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(210);
    setMaximumWidth(230);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    column->addWidget(makeHeader());

    auto* list = new QWidget();
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(12, 0, 12, 0);
    rows->setSpacing(0);
    for (const AppSection section : AppSections::all()) {
        auto* row = new NavRow(section, list);
        connect(row, &NavRow::clicked, this, [this, section] { m_state.setSelectedSection(section); });
        rows->addWidget(row);
        m_rows << row;
    }
    // Every row keeps its 50 px and the account card its whole height (the sign-in buttons and what they
    // say): where the window is too short for both, the rows scroll.
    m_sectionList = new RowListArea(this);
    m_sectionList->setObjectName(QStringLiteral("sectionList"));
    m_sectionList->setFrameShape(QFrame::NoFrame);
    m_sectionList->setWidgetResizable(true);
    m_sectionList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sectionList->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_sectionList->setMinimumHeight(2 * NavRow::kHeight);
    m_sectionList->setWidget(list);
    // A thin light handle on the dark column, no arrows and no track.
    m_sectionList->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 60); border-radius: "
                       "3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    for (QWidget* widget : std::initializer_list<QWidget*>{m_sectionList, m_sectionList->viewport(), list}) {
        widget->setAutoFillBackground(false); // the column's own background shows through
    }
    column->addWidget(m_sectionList);
    column->addStretch(1);
    column->addWidget(makeAccountCard());

    connect(&m_state, &DashboardState::selectedSectionChanged, this, &DashboardSidebar::syncSelection);
    AuthStore& auth = m_services.authStore;
    for (auto signal : {&AuthStore::providerChanged, &AuthStore::emailChanged, &AuthStore::displayNameChanged,
                        &AuthStore::isAuthenticatingChanged, &AuthStore::signInNoticeChanged}) {
        connect(&auth, signal, this, &DashboardSidebar::syncAccount);
    }
    SessionCoordinator& session = m_services.sessionCoordinator;
    for (auto signal :
         {&SessionCoordinator::activeSessionTokenChanged, &SessionCoordinator::profileChanged}) {
        connect(&session, signal, this, &DashboardSidebar::syncAccount);
    }
    connect(&m_services.appSettings, &AppSettings::hotkeyChanged, this, &DashboardSidebar::syncAccount);
    syncSelection();
    syncAccount();
}

QWidget* DashboardSidebar::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 14, 20, 0);
    row->setSpacing(10);
    if (m_services.sidebarIcon && !m_services.sidebarIcon->isNull()) {
        auto* mark = new QLabel(header);
        mark->setObjectName(QStringLiteral("sidebarMark"));
        QPixmap pixmap = QPixmap::fromImage(
            m_services.sidebarIcon->scaled(56, 56, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(2.0);
        mark->setPixmap(pixmap);
        mark->setFixedSize(28, 28);
        row->addWidget(mark);
    } else {
        auto* mark = new SymbolView(QStringLiteral("waveform.path.ecg"), 20, sidebarPrimaryText(), header);
        mark->setObjectName(QStringLiteral("sidebarSymbol"));
        row->addWidget(mark);
    }
    QLabel* name = makeLabel(QStringLiteral("Quillvane"), DashboardFonts::rounded(18, QFont::Bold),
                             sidebarPrimaryText(), header);
    row->addWidget(name);
    row->addStretch(1);
    return header;
}

QWidget* DashboardSidebar::makeAccountCard() {
    auto* card = new QWidget(this);
    card->setObjectName(QStringLiteral("accountCard"));
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(20, 0, 20, 20);
    column->setSpacing(8);
    column->addWidget(makeLabel(QStringLiteral("Account"), DashboardFonts::font(12, QFont::DemiBold),
                                sidebarSecondaryText(), card));
    m_accountLabel = elidingLabel(DashboardFonts::font(13, QFont::DemiBold), sidebarPrimaryText(), card);
    m_accountLabel->setObjectName(QStringLiteral("accountLabel"));
    column->addWidget(m_accountLabel);
    m_emailLine = elidingLabel(DashboardFonts::font(12), sidebarSecondaryText(), card);
    m_emailLine->setObjectName(QStringLiteral("accountEmail"));
    column->addWidget(m_emailLine);

    m_triggerGroup = new QWidget(card);
    m_triggerGroup->setObjectName(QStringLiteral("defaultTriggerGroup"));
    auto* trigger = new QVBoxLayout(m_triggerGroup);
    trigger->setContentsMargins(0, 0, 0, 0);
    trigger->setSpacing(8);
    QFrame* divider = makeDivider(sidebarDivider(), m_triggerGroup);
    trigger->addSpacing(4);
    trigger->addWidget(divider);
    trigger->addSpacing(6);
    trigger->addWidget(makeLabel(QStringLiteral("Default trigger"), DashboardFonts::font(12, QFont::DemiBold),
                                 sidebarSecondaryText(), m_triggerGroup));
    m_triggerValue =
        elidingLabel(DashboardFonts::font(13, QFont::DemiBold), sidebarPrimaryText(), m_triggerGroup);
    m_triggerValue->setObjectName(QStringLiteral("defaultTriggerValue"));
    trigger->addWidget(m_triggerValue);
    column->addWidget(m_triggerGroup);

    m_signOut = new SidebarButton(SidebarButton::Kind::Outlined, card);
    m_signOut->setObjectName(QStringLiteral("signOutButton"));
    m_signOut->setText(QStringLiteral("Sign Out"));
    connect(m_signOut, &QPushButton::clicked, this, &DashboardSidebar::signOut);
    column->addWidget(m_signOut);

    m_signInBlock = new QWidget(card);
    m_signInBlock->setObjectName(QStringLiteral("signInBlock"));
    auto* block = new QVBoxLayout(m_signInBlock);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(8);
    m_apple = new AppleSignInButton(m_services.authStore, true, m_signInBlock);
    m_google = new SidebarButton(SidebarButton::Kind::Bordered, m_signInBlock);
    m_google->setObjectName(QStringLiteral("googleSignInButton"));
    m_microsoft = new SidebarButton(SidebarButton::Kind::Bordered, m_signInBlock);
    m_microsoft->setObjectName(QStringLiteral("microsoftSignInButton"));
    m_microsoftNote = makeLabel(QStringLiteral("Microsoft sign-in is not configured yet."),
                                DashboardFonts::font(11), sidebarSecondaryText(), m_signInBlock);
    m_microsoftNote->setObjectName(QStringLiteral("microsoftNote"));
    m_microsoftNote->setWordWrap(true);
    block->addWidget(m_apple);
    block->addWidget(m_google, 0, Qt::AlignLeft);
    block->addWidget(m_microsoft, 0, Qt::AlignLeft);
    block->addWidget(m_microsoftNote);
    m_signInNotice = new ElidedLabel(kSignInNoticeMaxLines, m_signInBlock);
    m_signInNotice->setObjectName(QStringLiteral("signInNotice"));
    m_signInNotice->setFont(DashboardFonts::font(12));
    m_signInNotice->setColor(sidebarPrimaryText());
    block->addWidget(m_signInNotice);
    DashboardAccountActions& account = m_services.account;
    connect(m_apple, &QPushButton::clicked, this, [&account] { account.signInWithApple(); });
    connect(m_google, &QPushButton::clicked, this, [&account] { account.signInWithGoogle(); });
    connect(m_microsoft, &QPushButton::clicked, this, [&account] { account.signInWithMicrosoft(); });
    column->addWidget(m_signInBlock);
    return card;
}

void DashboardSidebar::syncSelection() {
    for (NavRow* row : m_rows) {
        row->setSelected(m_state.selectedSection() == row->section());
        if (row->isSelected()) {
            m_sectionList->ensureWidgetVisible(row, 0, 0);
        }
    }
}

void DashboardSidebar::syncAccount() {
    const AccountIdentity identity =
        AccountIdentity::from(m_services.authStore, m_services.sessionCoordinator);
    setLine(m_accountLabel, AccountRules::accountLabel(identity));
    const auto email = AccountRules::sidebarEmailLine(identity);
    setLine(m_emailLine, email.value_or(QString()));
    m_emailLine->setVisible(email.has_value());
    m_triggerGroup->setVisible(identity.sessionToken.has_value());
    setLine(m_triggerValue, m_services.appSettings.hotkey().displayString());
    const bool signedIn = AccountRules::showsSignOut(identity);
    m_signOut->setVisible(signedIn);
    m_signInBlock->setVisible(!signedIn);

    const bool busy = m_services.authStore.isAuthenticating();
    m_google->setText(busy ? QStringLiteral("Retry Google Sign-In") : QStringLiteral("Sign In With Google"));
    m_microsoft->setText(busy ? QStringLiteral("Retry Microsoft Sign-In")
                              : QStringLiteral("Sign In With Microsoft"));
    const bool microsoft = m_services.account.microsoftSignInAvailable();
    m_microsoft->setEnabled(microsoft);
    m_microsoftNote->setVisible(!microsoft);
    const QString& notice = m_services.authStore.signInNotice();
    m_signInNotice->setText(notice);
    m_signInNotice->setToolTip(notice);
    m_signInNotice->setAccessibleName(notice);
    m_signInNotice->setVisible(!notice.isEmpty());
    for (QPushButton* button : std::initializer_list<QPushButton*>{m_apple, m_google, m_microsoft}) {
        button->updateGeometry();
    }
}

void DashboardSidebar::signOut() {
    m_services.sessionCoordinator.clearSavedSession();
    m_services.account.showSyncIdle();
    m_services.authStore.signOut();
}

void DashboardSidebar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), sidebarBackground());
}
