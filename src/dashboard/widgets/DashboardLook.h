#pragma once

#include <QCheckBox>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPushButton>
#include <QString>

#include <optional>

class QPainter;
class QVBoxLayout;

// The dashboard's one fixed light look, whatever the desktop theme: the named colours, the fonts of its
// three designs, and the shared building blocks (surface card, page header, section introduction, the
// primary and secondary buttons).
namespace DashboardPalette {
QColor shellBackground();
QColor sidebarBackground();
QColor contentCanvas();
QColor surfaceBackground();
// Top-leading to bottom-trailing over `rect`.
QLinearGradient heroBackground(const QRectF& rect);
QColor titleColor();
QColor bodyColor();
QColor mutedColor();
QColor accentColor();
QColor sidebarPrimaryText();
QColor sidebarSecondaryText();
QColor sidebarDivider();
// The fill of destructive buttons ("Reset", "Delete").
QColor destructiveColor();
// White or black at an opacity, as the painted pieces use them.
QColor white(double opacity);
QColor black(double opacity);
// The light QPalette every dashboard widget inherits (explicit, so a dark desktop theme cannot leak in).
QPalette widgetPalette();
} // namespace DashboardPalette

namespace DashboardFonts {
enum class Design { Default, Rounded, Serif };
// Sizes are in device-independent pixels, the unit of the layout.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal, Design design = Design::Default);
QFont rounded(double pixelSize, QFont::Weight weight);
QFont serif(double pixelSize, QFont::Weight weight);
} // namespace DashboardFonts

namespace DashboardLook {
// The window's one style sheet: the standard controls (drop-downs, text fields, plain and segmented
// buttons, icon buttons, sliders, scroll bars) in the dashboard's look. Applied once, to the window.
QString styleSheet();
// The dynamic property that marks a row of checkable buttons as one segmented control.
inline constexpr char segmentsProperty[] = "dashboardSegments";
// True while `widget` holds the keyboard focus and that focus came from the keyboard (Tab, a shortcut):
// a click gives focus without a ring.
bool showsFocusRing(const QWidget* widget);
// The keyboard-focus ring inside `rect`, rounded with `radius`: an accent band with a white line inside
// it, so it shows on light, dark and accent-filled buttons alike.
void paintFocusRing(QPainter& painter, const QRectF& rect, double radius);
} // namespace DashboardLook

// A plain-text label in the given font and colour (user and backend text is never read as markup).
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// A one-pixel horizontal line in `color`.
QFrame* makeDivider(const QColor& color, QWidget* parent = nullptr);
// Recolours a label made by makeLabel.
void setLabelColor(QLabel* label, const QColor& color);

// A widget that paints a rounded rectangle behind its children: `radius` (negative: a capsule), the fill
// and an optional 1 px outline.
class RoundedBackground : public QWidget {
    Q_OBJECT
public:
    RoundedBackground(double radius, const QColor& fill, const QColor& stroke = {},
                      QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_radius;
    QColor m_fill;
    QColor m_stroke;
};

// The rounded card that frames most content blocks: 18 px padding, radius 18, surfaceBackground fill and a
// faint outline. Children go into `contentLayout()` (vertical, spacing 0).
class SurfaceCard : public QFrame {
    Q_OBJECT
public:
    explicit SurfaceCard(QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

// A page's first row: the title (rounded, 28 px, bold) at the leading edge and an optional trailing view.
// Where the title's whole width and the trailing view's narrowest do not fit side by side, the trailing
// view goes below the title; a title too long for the page wraps to a second line and ends in "…".
class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString& title, QWidget* trailing, QWidget* parent = nullptr);
    QLabel* titleLabel() const { return m_title; }
    void setTitle(const QString& title);
    // Whether the trailing view goes below the title at `width`.
    bool stacksAt(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    static constexpr int kSpacing = 12;
    int titleWidth() const;
    void place();

    QLabel* m_title;
    QWidget* m_trailing;
};

// A titled introduction of a block: the title (rounded, 20 px, semibold) over the muted body.
class SectionIntro : public QWidget {
    Q_OBJECT
public:
    SectionIntro(const QString& title, const QString& body, QWidget* parent = nullptr);
};

// The filled accent button. A destructive one is red and draws its label at 96 % white. An icon, when
// set, stands before the text.
class DashboardPrimaryButton : public QPushButton {
    Q_OBJECT
public:
    explicit DashboardPrimaryButton(const QString& text, QWidget* parent = nullptr);
    void setDestructive(bool destructive);
    bool isDestructive() const { return m_destructive; }
    // Fills with `tint` in place of the accent (or the destructive red).
    void setTint(const QColor& tint);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // What the button paints in each state, for the tests.
    QColor labelColor() const;
    QColor fillColor() const;
    double wholeOpacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kIconSpacing = 6;
    bool m_destructive = false;
    std::optional<QColor> m_tint;
};

// An on/off switch: a rounded track, accent-filled when on, with a white knob. A check box underneath, so
// it reads and writes like one; the whole switch is the hit area.
class DashboardSwitch : public QCheckBox {
    Q_OBJECT
public:
    explicit DashboardSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {38, 22}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
    void paintEvent(QPaintEvent* event) override;
};

// The outlined button: white fill and a faint outline in its accent colour, the label in the accent.
class DashboardSecondaryButton : public QPushButton {
    Q_OBJECT
public:
    DashboardSecondaryButton(const QString& text, const QColor& accent, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    QColor labelColor() const;
    QColor fillColor() const;
    QColor outlineColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_accent;
};

// The size of a button's text plus its padding (16 x 9 px) in the dashboard's button font.
QSize dashboardButtonSize(const QWidget* button, const QString& text);
