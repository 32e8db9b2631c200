#include "PermissionsOnboardingDialog.h"

#include "DesktopInputAccess.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using Kind = PermissionsCoordinator::PermissionKind;
using State = PermissionsCoordinator::PermissionState;

const char* kInk = "#242429";
const char* kAccent = "#2e63db";
const char* kGreen = "#28a745";

QString primaryStyle() {
    return QStringLiteral("QPushButton { color: white; background: %1; border: none; border-radius: 9px;"
                          " padding: 8px 14px; font-size: 13px; font-weight: 600; }"
                          "QPushButton:pressed { background: rgba(46, 99, 219, 0.82); }")
        .arg(QLatin1String(kAccent));
}

QString secondaryStyle() {
    return QStringLiteral(
               "QPushButton { color: %1; background: white; border: 1px solid rgba(46, 99, 219, 0.22);"
               " border-radius: 9px; padding: 8px 14px; font-size: 13px; font-weight: 600; }"
               "QPushButton:pressed { border-color: rgba(46, 99, 219, 0.55); }")
        .arg(QLatin1String(kAccent));
}

QLabel* wrappedLabel(const QString& text, const QString& style, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setStyleSheet(style);
    return label;
}

// Small painted symbols for the four states (no platform artwork).
QPixmap stateSymbol(const QString& name, const QColor& color) {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    QPen pen(color, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (name == QLatin1String("checkmark.circle.fill")) {
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(7, 12.5), QPointF(10.5, 16), QPointF(17, 8.5)}));
    } else if (name == QLatin1String("exclamationmark.triangle.fill")) {
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({QPointF(12, 2.5), QPointF(22, 21), QPointF(2, 21)}));
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 9), QPointF(12, 14.5));
        p.drawPoint(QPointF(12, 18));
    } else if (name == QLatin1String("gearshape.circle.fill")) {
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(8, 8, 8, 8));
    } else {
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
        p.drawLine(QPointF(9, 15), QPointF(15, 9));
        p.drawPolyline(QPolygonF({QPointF(10, 9), QPointF(15, 9), QPointF(15, 14)}));
    }
    return pixmap;
}

} // namespace

QString PermissionsOnboardingDialog::systemAccessibilityReason() {
    return desktopInputAccessProblem();
}

PermissionsOnboardingDialog::PermissionsOnboardingDialog(PermissionsCoordinator& coordinator,
                                                         AccessibilityReason reason, QWidget* parent)
    : QDialog(parent), m_coordinator(coordinator),
      m_reason(reason ? std::move(reason) : AccessibilityReason(&systemAccessibilityReason)) {
    setObjectName(QStringLiteral("permissionsOnboarding"));
    setWindowTitle(QStringLiteral("Finish Setting Up Quillvane"));
    setModal(false);
    setFixedWidth(680);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, QColor(kInk));
    setPalette(palette);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(22);

    auto* header = new QVBoxLayout;
    header->setSpacing(8);
    header->addWidget(wrappedLabel(QStringLiteral("Finish Setting Up Quillvane"),
                                   QStringLiteral("font-size: 28px; font-weight: 700; color: %1;").arg(kInk),
                                   this));
    header->addWidget(wrappedLabel(
        QStringLiteral("Check the two things Quillvane needs once so dictation, paste/type actions, "
                       "selected-text capture, and app interaction work smoothly."),
        QStringLiteral("font-size: 14px; font-weight: 500; color: rgb(97, 102, 115);"), this));
    layout->addLayout(header);

    auto* rows = new QVBoxLayout;
    rows->setSpacing(12);
    m_microphone = buildRow(Kind::Microphone, this);
    rows->addWidget(m_microphone.icon->parentWidget());
    m_accessibility = buildRow(Kind::Accessibility, this);
    rows->addWidget(m_accessibility.icon->parentWidget());
    layout->addLayout(rows);

    auto* expect = new QFrame(this);
    expect->setObjectName(QStringLiteral("whatToExpect"));
    expect->setStyleSheet(
        QStringLiteral("#whatToExpect { background: rgb(247, 250, 255); border-radius: 16px; }"));
    auto* expectLayout = new QVBoxLayout(expect);
    expectLayout->setContentsMargins(16, 16, 16, 16);
    expectLayout->setSpacing(10);
    expectLayout->addWidget(
        wrappedLabel(QStringLiteral("What to expect"),
                     QStringLiteral("font-size: 15px; font-weight: 600; color: %1;").arg(kInk), expect));
    expectLayout->addWidget(wrappedLabel(
        QStringLiteral("The microphone is your sound server's default input (PulseAudio or PipeWire): choose "
                       "or unmute it in your desktop's sound settings. Accessibility is what lets Quillvane "
                       "paste, type, read selected text, and interact with other apps; on an X11 desktop it "
                       "comes with the display, so there is nothing to grant. A Wayland session needs "
                       "XWayland for it."),
        QStringLiteral("font-size: 13px; font-weight: 500; color: rgb(115, 115, 125);"), expect));
    layout->addWidget(expect);

    auto* buttons = new QHBoxLayout;
    auto* later = new QPushButton(QStringLiteral("Continue for now"), this);
    later->setObjectName(QStringLiteral("continueButton"));
    later->setStyleSheet(secondaryStyle());
    auto* refresh = new QPushButton(QStringLiteral("Refresh status"), this);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    refresh->setStyleSheet(secondaryStyle());
    auto* doneButton = new QPushButton(QStringLiteral("Done"), this);
    doneButton->setObjectName(QStringLiteral("doneButton"));
    doneButton->setStyleSheet(primaryStyle());
    doneButton->setDefault(true);
    buttons->addWidget(later);
    buttons->addStretch(1);
    buttons->addWidget(refresh);
    buttons->addWidget(doneButton);
    layout->addLayout(buttons);

    connect(later, &QPushButton::clicked, this, [this] { m_coordinator.setShowOnboarding(false); });
    connect(doneButton, &QPushButton::clicked, this, [this] { m_coordinator.setShowOnboarding(false); });
    connect(refresh, &QPushButton::clicked, this, [this] { m_coordinator.refresh(); });
    connect(&m_coordinator, &PermissionsCoordinator::microphoneChanged, this,
            [this] { syncRow(Kind::Microphone); });
    connect(&m_coordinator, &PermissionsCoordinator::accessibilityChanged, this,
            [this] { syncRow(Kind::Accessibility); });
    connect(&m_coordinator, &PermissionsCoordinator::showOnboardingChanged, this,
            &PermissionsOnboardingDialog::syncVisibility);
    syncRow(Kind::Microphone);
    syncRow(Kind::Accessibility);
}

PermissionsOnboardingDialog::Row PermissionsOnboardingDialog::buildRow(Kind kind, QWidget* parent) {
    const QString name =
        kind == Kind::Microphone ? QStringLiteral("microphone") : QStringLiteral("accessibility");
    auto* card = new QFrame(parent);
    card->setObjectName(name + QStringLiteral("Row"));
    card->setStyleSheet(
        QStringLiteral("#%1 { background: rgb(251, 252, 254); border: 1px solid rgba(0, 0, 0, 0.05);"
                       " border-radius: 18px; }")
            .arg(card->objectName()));
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);
    Row row;
    row.icon = new QLabel(card);
    row.icon->setObjectName(name + QStringLiteral("Icon"));
    row.icon->setFixedSize(24, 24);
    row.icon->setScaledContents(true);
    layout->addWidget(row.icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(10);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(
        wrappedLabel(rowView(kind).title,
                     QStringLiteral("font-size: 16px; font-weight: 600; color: %1;").arg(kInk), card));
    row.badge = new QLabel(card);
    row.badge->setObjectName(name + QStringLiteral("Badge"));
    row.badge->setTextFormat(Qt::PlainText);
    titleLine->addWidget(row.badge);
    titleLine->addStretch(1);
    texts->addLayout(titleLine);
    row.description = wrappedLabel(
        QString(), QStringLiteral("font-size: 13px; font-weight: 500; color: rgb(110, 112, 125);"), card);
    row.description->setObjectName(name + QStringLiteral("Description"));
    texts->addWidget(row.description);
    layout->addLayout(texts, 1);

    row.button = new QPushButton(card);
    row.button->setObjectName(name + QStringLiteral("Button"));
    row.button->setStyleSheet(primaryStyle());
    layout->addWidget(row.button, 0, Qt::AlignTop);
    connect(row.button, &QPushButton::clicked, this,
            [this, kind] { m_coordinator.performPrimaryAction(kind); });
    return row;
}

PermissionsOnboardingDialog::RowView PermissionsOnboardingDialog::rowView(Kind kind) const {
    RowView view;
    const State state = kind == Kind::Microphone ? m_coordinator.microphone() : m_coordinator.accessibility();
    if (kind == Kind::Microphone) {
        view.title = QStringLiteral("Microphone");
        view.description = QStringLiteral("Lets Quillvane capture your voice for transcription.");
    } else {
        view.title = QStringLiteral("Accessibility");
        view.description = QStringLiteral(
            "Lets Quillvane paste, type, read selected text, and interact with other apps more reliably.");
    }
    State shown = state;
    if (kind == Kind::Accessibility && state != State::Granted) {
        // Nothing on X11 can be granted: access is missing only when the display cannot give it.
        const QString reason = m_reason();
        shown = State::Unavailable;
        view.description = reason.isEmpty()
                               ? QStringLiteral("The X display did not answer the last check. Check again.")
                               : reason;
        view.badge = QStringLiteral("Unavailable");
        view.icon = QStringLiteral("exclamationmark.triangle.fill");
        view.buttonTitle = QStringLiteral("Check Again");
        return view;
    }
    switch (shown) {
    case State::Granted:
        view.badge = QStringLiteral("Ready");
        view.icon = QStringLiteral("checkmark.circle.fill");
        break;
    case State::NotGranted:
        view.badge = QStringLiteral("Needs access");
        view.icon = QStringLiteral("arrow.up.right.circle");
        break;
    case State::ReviewInSettings:
        view.badge = QStringLiteral("Check in Settings");
        view.icon = QStringLiteral("gearshape.circle.fill");
        if (kind == Kind::Microphone) {
            view.description =
                QStringLiteral("The sound server lists no microphone. Connect or unmute one in "
                               "your desktop's sound settings.");
        }
        break;
    case State::Unavailable:
        view.badge = QStringLiteral("Unavailable");
        view.icon = QStringLiteral("exclamationmark.triangle.fill");
        break;
    }
    if (state != State::Granted) {
        view.buttonTitle = m_coordinator.primaryActionTitle(kind);
    }
    return view;
}

void PermissionsOnboardingDialog::syncRow(Kind kind) {
    Row& row = kind == Kind::Microphone ? m_microphone : m_accessibility;
    const RowView view = rowView(kind);
    const bool granted = view.buttonTitle.isEmpty();
    const QColor color(granted ? kGreen : kAccent);
    row.icon->setPixmap(stateSymbol(view.icon, color));
    row.icon->setProperty("symbol", view.icon);
    row.badge->setText(view.badge);
    row.badge->setStyleSheet(QStringLiteral("font-size: 11px; font-weight: 700; color: %1; padding: 4px 8px;"
                                            " border-radius: 9px; background: rgba(%2, %3, %4, 0.12);")
                                 .arg(color.name())
                                 .arg(color.red())
                                 .arg(color.green())
                                 .arg(color.blue()));
    row.description->setText(view.description);
    row.button->setText(view.buttonTitle);
    row.button->setVisible(!granted);
}

void PermissionsOnboardingDialog::syncVisibility() {
    if (m_coordinator.showOnboarding()) {
        syncRow(Kind::Microphone);
        syncRow(Kind::Accessibility);
        open();
    } else if (isVisible()) {
        QDialog::done(QDialog::Accepted);
    }
}

void PermissionsOnboardingDialog::done(int result) {
    QDialog::done(result);
    // Escape, the window's close button and the buttons all end here: the flag follows.
    m_coordinator.setShowOnboarding(false);
}
