#include "DashboardHotkeyCaptureSheet.h"

#include "DashboardLook.h"
#include "HotkeyCaptureApply.h"
#include "HotkeyCaptureKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace DashboardPalette;
using Kind = HotkeyCaptureMachine::Outcome::Kind;

namespace {

constexpr int sheetWidth = 520;
constexpr int sheetHeight = 220;

QFont monospaced(double pixelSize, QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(int(pixelSize));
    font.setWeight(weight);
    return font;
}

QLabel* caption(const QString& text, QWidget* parent) {
    return makeLabel(text, DashboardFonts::font(11, QFont::DemiBold), mutedColor(), parent);
}

// A vertical stack without margins.
QVBoxLayout* stack(QBoxLayout* into, int spacing) {
    auto* layout = new QVBoxLayout();
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    into->addLayout(layout);
    return layout;
}

} // namespace

DashboardHotkeyCaptureSheet::DashboardHotkeyCaptureSheet(
    const QString& title, const HotkeyDefinition& currentHotkey, std::function<void()> onCancel,
    std::function<void(const HotkeyDefinition&)> onCapture, QWidget* parent)
    : QWidget(parent), m_onCancel(std::move(onCancel)), m_onCapture(std::move(onCapture)),
      m_machine(currentHotkey) {
    setObjectName(QStringLiteral("hotkeyCaptureSheet"));
    setPalette(widgetPalette());
    setAutoFillBackground(false);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    QLabel* heading = makeLabel(title, DashboardFonts::rounded(20, QFont::Bold), titleColor(), this);
    heading->setObjectName(QStringLiteral("captureTitle"));
    column->addWidget(heading);

    QVBoxLayout* current = stack(column, 8);
    current->addWidget(caption(QStringLiteral("Current shortcut"), this));
    auto* box = new RoundedBackground(10, black(0.05), {}, this);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(12, 10, 12, 10);
    QLabel* keys =
        makeLabel(currentHotkey.displayString(), monospaced(13, QFont::DemiBold), bodyColor(), box);
    keys->setObjectName(QStringLiteral("captureCurrentShortcut"));
    boxLayout->addWidget(keys);
    current->addWidget(box);

    QVBoxLayout* guidance = stack(column, 6);
    guidance->addWidget(caption(QStringLiteral("How capture works"), this));
    m_status = makeLabel(m_machine.statusText(), DashboardFonts::font(13), mutedColor(), this);
    m_status->setObjectName(QStringLiteral("captureStatus"));
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(44);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    guidance->addWidget(m_status);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("captureCancelButton"));
    // Keys belong to the capture: the button answers clicks only.
    m_cancel->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_cancel, 0, Qt::AlignLeft);
    connect(m_cancel, &QPushButton::clicked, this, &DashboardHotkeyCaptureSheet::cancel);

    // The sheet's width is fixed; its height is at least the sheet's, and the presentation gives it what
    // its content needs at the dashboard's fonts, so nothing is cut off.
    setFixedWidth(sheetWidth);
    setMinimumHeight(sheetHeight);
}

DashboardHotkeyCaptureSheet::~DashboardHotkeyCaptureSheet() {
    teardownMonitor();
}

DashboardHotkeyCaptureSheet* DashboardHotkeyCaptureSheet::forIntent(DashboardHotkeyCaptureIntent intent,
                                                                    AppSettings& settings,
                                                                    DashboardState& state,
                                                                    std::function<void()> close) {
    return new DashboardHotkeyCaptureSheet(DashboardHotkeyCaptureIntents::sheetTitle(intent),
                                           currentHotkey(intent, settings), std::move(close),
                                           [intent, &settings, &state](const HotkeyDefinition& captured) {
                                               applyCapturedHotkey(captured, intent, settings, state);
                                           });
}

QString DashboardHotkeyCaptureSheet::statusText() const {
    return m_status->text();
}

void DashboardHotkeyCaptureSheet::installMonitor() {
    teardownMonitor();
    if (qApp) {
        qApp->installEventFilter(this);
        m_capturing = true;
    }
}

void DashboardHotkeyCaptureSheet::teardownMonitor() {
    if (m_capturing) {
        qApp->removeEventFilter(this);
        m_capturing = false;
    }
    m_heldModifiers.clear();
    m_machine.reset();
}

void DashboardHotkeyCaptureSheet::cancel() {
    teardownMonitor();
    if (m_onCancel) {
        m_onCancel();
    }
}

void DashboardHotkeyCaptureSheet::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    installMonitor();
}

void DashboardHotkeyCaptureSheet::hideEvent(QHideEvent* event) {
    teardownMonitor();
    QWidget::hideEvent(event);
}

void DashboardHotkeyCaptureSheet::paintEvent(QPaintEvent*) {
    // White, with the corners of the panel the window's presentations are shown on.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 14, 14);
    painter.fillPath(path, Qt::white);
}

bool DashboardHotkeyCaptureSheet::eventFilter(QObject* watched, QEvent* event) {
    if (!m_capturing) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so no shortcut of the window fires; the press itself follows as a key press.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        handleKey(event->type(), *static_cast<QKeyEvent*>(event));
        return true;
    case QEvent::ApplicationStateChange:
        // Keys released while another application has the keyboard never reach us: what was held is
        // unknown, so the capture starts over.
        if (static_cast<QApplicationStateChangeEvent*>(event)->applicationState() != Qt::ApplicationActive) {
            m_heldModifiers.clear();
            m_machine.startOver();
            m_status->setText(m_machine.statusText());
        }
        return QWidget::eventFilter(watched, event);
    default:
        return QWidget::eventFilter(watched, event);
    }
}

std::uint64_t DashboardHotkeyCaptureSheet::heldFlags() const {
    std::uint64_t flags = 0;
    for (const std::uint64_t flag : m_heldModifiers) {
        flags |= flag;
    }
    return flags;
}

void DashboardHotkeyCaptureSheet::handleKey(QEvent::Type type, const QKeyEvent& event) {
    // A held key repeats: only its first press counts.
    if (event.isAutoRepeat()) {
        return;
    }
    const CaptureKey key =
        HotkeyCaptureKeys::keyOf(event.nativeScanCode(), event.nativeVirtualKey(), event.key());
    const bool press = type == QEvent::KeyPress;
    if (!key.isModifier()) {
        if (press) {
            deliver({HotkeyKeyEvent::Kind::KeyDown, key.keyCode, heldFlags()});
        }
        return;
    }

    // Modifier keys: the set of held ones is what the capture sees change. A key is remembered by its X
    // keycode, so its release is matched whatever symbol the keyboard map gives it by then.
    const quint64 id = event.nativeScanCode() != 0 ? quint64(event.nativeScanCode())
                                                   : (quint64(1) << 32) | quint64(quint32(event.key()));
    if (press) {
        m_heldModifiers.insert(id, key.modifierFlag);
    } else if (!m_heldModifiers.remove(id)) {
        return; // held since before the capture began
    }
    const std::uint64_t flags = heldFlags();
    QPointer<DashboardHotkeyCaptureSheet> alive(this);
    deliver({HotkeyKeyEvent::Kind::FlagsChanged, key.keyCode, flags});
    // The Right Ctrl key (the Fn role) going down is also a key press of its own.
    if (alive && m_capturing && press && key.keyCode == HotkeyDefinition::functionKeyCode) {
        deliver({HotkeyKeyEvent::Kind::KeyDown, key.keyCode, flags});
    }
}

void DashboardHotkeyCaptureSheet::deliver(const HotkeyKeyEvent& event) {
    const HotkeyCaptureMachine::Outcome outcome = m_machine.handle(event);
    switch (outcome.kind) {
    case Kind::None:
        return;
    case Kind::StatusChanged:
        m_status->setText(m_machine.statusText());
        return;
    case Kind::Cancelled:
        cancel();
        return;
    case Kind::Captured:
        teardownMonitor();
        if (m_onCapture) {
            m_onCapture(*outcome.definition);
        }
        return;
    }
}
