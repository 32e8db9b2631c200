#include "DashboardLook.h"

#include "ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

// The look's images (the drop-down chevron), compiled into this static library.
static void initLookResources() {
    Q_INIT_RESOURCE(look);
}

namespace {
QColor rgb(double r, double g, double b, double a = 1.0) {
    return QColor::fromRgbF(r, g, b, a);
}

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& fill,
                 const QColor& stroke = {}) {
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, fill);
    if (stroke.isValid()) {
        painter.setPen(QPen(stroke, 1.0));
        painter.drawPath(path);
    }
}

QFont buttonFont() {
    return DashboardFonts::font(13, QFont::DemiBold);
}
} // namespace

namespace DashboardPalette {
QColor shellBackground() {
    return rgb(0.94, 0.96, 0.99);
}
QColor sidebarBackground() {
    return rgb(0.08, 0.12, 0.20);
}
QColor contentCanvas() {
    return white(0.96);
}
QColor surfaceBackground() {
    return rgb(0.97, 0.98, 0.995);
}
QLinearGradient heroBackground(const QRectF& rect) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0.0, rgb(0.10, 0.23, 0.56));
    gradient.setColorAt(1.0, rgb(0.18, 0.39, 0.86));
    return gradient;
}
QColor titleColor() {
    return rgb(0.14, 0.14, 0.16);
}
QColor bodyColor() {
    return rgb(0.30, 0.30, 0.34);
}
QColor mutedColor() {
    return rgb(0.45, 0.45, 0.49);
}
QColor accentColor() {
    return rgb(0.18, 0.39, 0.86);
}
QColor sidebarPrimaryText() {
    return white(0.96);
}
QColor sidebarSecondaryText() {
    return rgb(0.74, 0.81, 0.92);
}
QColor sidebarDivider() {
    return white(0.12);
}
QColor destructiveColor() {
    return QColor(0xD7, 0x2C, 0x20);
}
QColor white(double opacity) {
    return rgb(1, 1, 1, opacity);
}
QColor black(double opacity) {
    return rgb(0, 0, 0, opacity);
}

QPalette widgetPalette() {
    QPalette palette;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, shellBackground());
        palette.setColor(group, QPalette::WindowText, titleColor());
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, surfaceBackground());
        palette.setColor(group, QPalette::Text, bodyColor());
        palette.setColor(group, QPalette::Button, Qt::white);
        palette.setColor(group, QPalette::ButtonText, titleColor());
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Highlight, accentColor());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::ToolTipBase, titleColor());
        palette.setColor(group, QPalette::ToolTipText, Qt::white);
        palette.setColor(group, QPalette::PlaceholderText, mutedColor());
        palette.setColor(group, QPalette::Link, accentColor());
        palette.setColor(group, QPalette::Light, Qt::white);
        palette.setColor(group, QPalette::Midlight, surfaceBackground());
        palette.setColor(group, QPalette::Mid, mutedColor());
        palette.setColor(group, QPalette::Dark, bodyColor());
        palette.setColor(group, QPalette::Shadow, black(0.3));
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, mutedColor());
    palette.setColor(QPalette::Disabled, QPalette::Text, mutedColor());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, mutedColor());
    return palette;
}
} // namespace DashboardPalette

namespace DashboardFonts {
QFont font(double pixelSize, QFont::Weight weight, Design design) {
    QFont font;
    switch (design) {
    case Design::Default:
        font.setFamilies(
            {QStringLiteral("Inter"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
        break;
    case Design::Rounded:
        font.setFamilies({QStringLiteral("Quicksand"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans"),
                          QStringLiteral("Sans Serif")});
        break;
    case Design::Serif:
        font.setFamilies(
            {QStringLiteral("DejaVu Serif"), QStringLiteral("Linux Libertine O"), QStringLiteral("Serif")});
        break;
    }
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    // Quicksand is light by nature: one step heavier keeps rounded titles as strong as the others.
    font.setWeight(design == Design::Rounded && weight < QFont::Black
                       ? static_cast<QFont::Weight>(qMin(int(QFont::Black), int(weight) + 100))
                       : weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
QFont rounded(double pixelSize, QFont::Weight weight) {
    return font(pixelSize, weight, Design::Rounded);
}
QFont serif(double pixelSize, QFont::Weight weight) {
    return font(pixelSize, weight, Design::Serif);
}
} // namespace DashboardFonts

namespace DashboardLook {
QString styleSheet() {
    // One rule set for every standard control inside the window. Only exact classes and marked containers
    // are styled, so the dashboard's own painted widgets keep their fonts and sizes.
    initLookResources();
    return QStringLiteral(R"(
QComboBox, QLineEdit {
    background: white; color: #242429; border: 1px solid rgba(0, 0, 0, 34); border-radius: 8px;
    selection-background-color: #2E63DB; selection-color: white;
}
QComboBox { padding: 5px 28px 5px 10px; min-height: 18px; }
QLineEdit { padding: 6px 10px; }
QComboBox:hover, QLineEdit:hover { border-color: rgba(46, 99, 219, 115); }
QComboBox:focus, QComboBox:on, QLineEdit:focus { border-color: #2E63DB; }
QComboBox:disabled, QLineEdit:disabled { color: #73737D; background: rgba(255, 255, 255, 150); }
QComboBox::drop-down {
    subcontrol-origin: padding; subcontrol-position: center right; width: 26px;
    border: none; background: transparent;
}
QComboBox::down-arrow { image: url(:/dashboard/chevron.down.svg); width: 10px; height: 10px; }
QComboBox QAbstractItemView {
    background: white; color: #242429; border: 1px solid rgba(0, 0, 0, 34); outline: 0; padding: 4px;
    selection-background-color: rgba(46, 99, 219, 30); selection-color: #242429;
}
QPlainTextEdit {
    background: white; color: #242429; border: 1px solid rgba(0, 0, 0, 20); border-radius: 14px;
    selection-background-color: #2E63DB; selection-color: white;
}
QPlainTextEdit:focus { border-color: rgba(46, 99, 219, 150); }

.QPushButton {
    background: white; color: #242429; border: 1px solid rgba(0, 0, 0, 34); border-radius: 8px;
    padding: 6px 14px; font-weight: 600;
}
.QPushButton:hover { border-color: rgba(46, 99, 219, 115); }
.QPushButton:pressed { background: rgba(46, 99, 219, 26); }
.QPushButton:focus { border-color: #2E63DB; }
.QPushButton:disabled { color: #73737D; background: rgba(255, 255, 255, 150); border-color: rgba(0, 0, 0, 15); }
.QPushButton[destructive="true"] { color: #D72C20; }
.QPushButton[destructive="true"]:hover, .QPushButton[destructive="true"]:focus { border-color: rgba(215, 44, 32, 140); }
.QPushButton[destructive="true"]:pressed { background: rgba(215, 44, 32, 20); }
.QPushButton[destructive="true"]:disabled { color: rgba(215, 44, 32, 110); }

QWidget[dashboardSegments="true"] { background: rgba(0, 0, 0, 13); border-radius: 9px; }
QWidget[dashboardSegments="true"] > QPushButton {
    background: transparent; color: #4C4C57; border: 1px solid transparent; border-radius: 7px;
    padding: 4px 6px; font-weight: 600;
}
QWidget[dashboardSegments="true"] > QPushButton:hover { background: rgba(0, 0, 0, 13); }
QWidget[dashboardSegments="true"] > QPushButton:checked {
    background: white; color: #2E63DB; border-color: rgba(0, 0, 0, 20);
}
QWidget[dashboardSegments="true"] > QPushButton:focus { border-color: #2E63DB; }

QToolButton { background: transparent; border: 1px solid transparent; border-radius: 6px; padding: 4px; }
QToolButton:hover { background: rgba(0, 0, 0, 15); }
QToolButton:pressed { background: rgba(0, 0, 0, 26); }
QToolButton:focus { border-color: #2E63DB; }

QSlider::groove:horizontal { height: 4px; background: rgba(0, 0, 0, 26); border-radius: 2px; }
QSlider::sub-page:horizontal { background: #2E63DB; border-radius: 2px; }
QSlider::add-page:horizontal { background: rgba(0, 0, 0, 26); border-radius: 2px; }
QSlider::handle:horizontal {
    background: white; border: 1px solid rgba(0, 0, 0, 46); width: 16px; height: 16px; margin: -7px 0;
    border-radius: 9px;
}
QSlider::handle:horizontal:hover { border-color: rgba(46, 99, 219, 140); }
QSlider::handle:horizontal:focus { border: 2px solid #2E63DB; }
QSlider::sub-page:horizontal:disabled { background: #73737D; }

QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
QScrollBar::handle { background: rgba(0, 0, 0, 56); border-radius: 3px; margin: 2px; }
QScrollBar::handle:hover, QScrollBar::handle:pressed { background: rgba(0, 0, 0, 92); }
QScrollBar::handle:vertical { min-height: 32px; }
QScrollBar::handle:horizontal { min-width: 32px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; background: none; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }

)");
}

bool showsFocusRing(const QWidget* widget) {
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paintFocusRing(QPainter& painter, const QRectF& rect, double radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    QColor band = DashboardPalette::accentColor();
    band.setAlphaF(0.75);
    painter.setPen(QPen(band, 2));
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), qMax(0.0, radius - 1), qMax(0.0, radius - 1));
    painter.setPen(QPen(DashboardPalette::white(0.9), 1));
    painter.drawRoundedRect(rect.adjusted(2.5, 2.5, -2.5, -2.5), qMax(0.0, radius - 2.5),
                            qMax(0.0, radius - 2.5));
    painter.restore();
}
} // namespace DashboardLook

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    setLabelColor(label, color);
    return label;
}

void setLabelColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, color);
    }
    label->setPalette(palette);
}

RoundedBackground::RoundedBackground(double radius, const QColor& fill, const QColor& stroke, QWidget* parent)
    : QWidget(parent), m_radius(radius), m_fill(fill), m_stroke(stroke) {}

void RoundedBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF area = m_stroke.isValid() ? QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5) : QRectF(rect());
    fillRounded(painter, area, m_radius < 0 ? area.height() / 2.0 : m_radius, m_fill, m_stroke);
}

QFrame* makeDivider(const QColor& color, QWidget* parent) {
    auto* divider = new QFrame(parent);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, color);
    divider->setPalette(palette);
    return divider;
}

SurfaceCard::SurfaceCard(QWidget* parent) : QFrame(parent), m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(18, 18, 18, 18);
    m_layout->setSpacing(0);
}

void SurfaceCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    fillRounded(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 18,
                DashboardPalette::surfaceBackground(), DashboardPalette::black(0.045));
}

PageHeader::PageHeader(const QString& title, QWidget* trailing, QWidget* parent)
    : QWidget(parent), m_title(new ElidingLabel(2, this)), m_trailing(trailing) {
    m_title->setText(title);
    m_title->setFont(DashboardFonts::rounded(28, QFont::Bold));
    setLabelColor(m_title, DashboardPalette::titleColor());
    m_title->setObjectName(QStringLiteral("pageTitle"));
    if (m_trailing) {
        m_trailing->setParent(this);
    }
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void PageHeader::setTitle(const QString& title) {
    if (m_title->text() != title) {
        m_title->setText(title);
        updateGeometry();
        place();
    }
}

int PageHeader::titleWidth() const {
    return m_title->sizeHint().width();
}

bool PageHeader::stacksAt(int width) const {
    return m_trailing && width < titleWidth() + kSpacing + m_trailing->minimumSizeHint().width();
}

QSize PageHeader::sizeHint() const {
    const int width = titleWidth() + (m_trailing ? kSpacing + m_trailing->sizeHint().width() : 0);
    return {width, heightForWidth(width)};
}

QSize PageHeader::minimumSizeHint() const {
    const int width =
        std::max(m_title->minimumSizeHint().width(), m_trailing ? m_trailing->minimumSizeHint().width() : 0);
    return {width, m_title->minimumSizeHint().height()};
}

namespace {
int heightAt(const QWidget* widget, int width) {
    return widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
}
} // namespace

int PageHeader::heightForWidth(int width) const {
    if (!m_trailing) {
        return heightAt(m_title, width);
    }
    if (stacksAt(width)) {
        return heightAt(m_title, width) + kSpacing + heightAt(m_trailing, width);
    }
    const int title = std::min(titleWidth(), width);
    return std::max(heightAt(m_title, title), heightAt(m_trailing, width - title - kSpacing));
}

void PageHeader::place() {
    const int width = this->width();
    if (!m_trailing) {
        m_title->setGeometry(0, 0, width, height());
        return;
    }
    if (stacksAt(width)) {
        // The title over the whole width, the trailing view below it at the leading edge.
        const int titleHeight = heightAt(m_title, width);
        m_title->setGeometry(0, 0, width, titleHeight);
        const int trailingWidth = std::min(width, m_trailing->sizeHint().width());
        m_trailing->setGeometry(0, titleHeight + kSpacing, trailingWidth,
                                heightAt(m_trailing, trailingWidth));
        return;
    }
    // The title at its whole width, the trailing view at the trailing edge in what is left.
    const int title = std::min(titleWidth(), width);
    m_title->setGeometry(0, 0, title, heightAt(m_title, title));
    const int trailingWidth = std::min(width - title - kSpacing, m_trailing->sizeHint().width());
    m_trailing->setGeometry(width - trailingWidth, 0, trailingWidth, heightAt(m_trailing, trailingWidth));
}

void PageHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

bool PageHeader::event(QEvent* event) {
    // The trailing view changed what it needs (its texts): measure again.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        place();
    }
    return QWidget::event(event);
}

SectionIntro::SectionIntro(const QString& title, const QString& body, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(
        makeLabel(title, DashboardFonts::rounded(20, QFont::DemiBold), DashboardPalette::titleColor()));
    QLabel* bodyLabel = makeLabel(body, DashboardFonts::font(13), DashboardPalette::mutedColor());
    bodyLabel->setWordWrap(true);
    column->addWidget(bodyLabel);
}

QSize dashboardButtonSize(const QWidget*, const QString& text) {
    const QFontMetrics metrics(buttonFont());
    return QSize(metrics.horizontalAdvance(text) + 32, metrics.height() + 18);
}

DashboardPrimaryButton::DashboardPrimaryButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {
    setFont(buttonFont());
    setCursor(Qt::PointingHandCursor);
}

void DashboardPrimaryButton::setDestructive(bool destructive) {
    m_destructive = destructive;
    update();
}

QSize DashboardPrimaryButton::sizeHint() const {
    QSize size = dashboardButtonSize(this, text());
    if (!icon().isNull()) {
        size.rwidth() += iconSize().width() + kIconSpacing;
    }
    return size;
}

QColor DashboardPrimaryButton::labelColor() const {
    return DashboardPalette::white(m_destructive ? 0.96 : 1.0);
}
void DashboardPrimaryButton::setTint(const QColor& tint) {
    m_tint = tint;
    update();
}

QColor DashboardPrimaryButton::fillColor() const {
    QColor fill =
        m_tint.value_or(m_destructive ? DashboardPalette::destructiveColor() : rgb(0.18, 0.39, 0.86, 1.0));
    fill.setAlphaF(isDown() ? 0.84 : 1.0);
    return fill;
}
double DashboardPrimaryButton::wholeOpacity() const {
    return isDown() ? 0.96 : 1.0;
}

void DashboardPrimaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(wholeOpacity() * (isEnabled() ? 1.0 : 0.5));
    fillRounded(painter, rect(), 10, fillColor());
    painter.setPen(labelColor());
    painter.setFont(font());
    QRect label = rect();
    if (!icon().isNull()) {
        // The icon and the text as one group, centred.
        const int textWidth = fontMetrics().horizontalAdvance(text());
        const int groupWidth = iconSize().width() + kIconSpacing + textWidth;
        const int left = (width() - groupWidth) / 2;
        icon().paint(&painter, QRect(QPoint(left, (height() - iconSize().height()) / 2), iconSize()));
        label = QRect(left + iconSize().width() + kIconSpacing, 0, textWidth + 1, height());
    }
    painter.drawText(label, Qt::AlignCenter, text());
}

DashboardSecondaryButton::DashboardSecondaryButton(const QString& text, const QColor& accent, QWidget* parent)
    : QPushButton(text, parent), m_accent(accent) {
    setFont(buttonFont());
    setCursor(Qt::PointingHandCursor);
}

QSize DashboardSecondaryButton::sizeHint() const {
    return dashboardButtonSize(this, text());
}

QColor DashboardSecondaryButton::labelColor() const {
    QColor color = m_accent;
    color.setAlphaF(m_accent.alphaF() * (isDown() ? 0.82 : 1.0));
    return color;
}
QColor DashboardSecondaryButton::fillColor() const {
    return DashboardPalette::white(isDown() ? 0.92 : 1.0);
}
QColor DashboardSecondaryButton::outlineColor() const {
    QColor color = m_accent;
    color.setAlphaF(m_accent.alphaF() * (isDown() ? 0.42 : 0.22));
    return color;
}

void DashboardSecondaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(isEnabled() ? 1.0 : 0.5);
    fillRounded(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, fillColor(), outlineColor());
    painter.setPen(labelColor());
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

DashboardSwitch::DashboardSwitch(QWidget* parent) : QCheckBox(parent) {
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
}

void DashboardSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = track.height() / 2;
    QColor fill = isChecked() ? rgb(0.18, 0.39, 0.86, 1.0) : QColor(0, 0, 0, 38);
    if (!isEnabled())
        fill.setAlphaF(fill.alphaF() * 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(0, 0, 0, 25), 0.5));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (DashboardLook::showsFocusRing(this)) {
        DashboardLook::paintFocusRing(painter, rect(), rect().height() / 2.0);
    }
}
