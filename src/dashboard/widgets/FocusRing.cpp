#include "FocusRing.h"

#include "DashboardLook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr double kDefaultRadius = 10;

// The ring of `widget`, painted after (over) the widget's own painting.
void paintRing(QWidget* widget) {
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    const QVariant wanted = widget->property("focusRingRadius");
    const QRectF outer = QRectF(widget->rect()).adjusted(1, 1, -1, -1);
    const double radius =
        qMin(wanted.isValid() ? wanted.toDouble() : kDefaultRadius, qMin(outer.height(), outer.width()) / 2);
    QColor accent = DashboardPalette::accentColor();
    accent.setAlphaF(0.9);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(accent, 2));
    painter.drawRoundedRect(outer, radius, radius);
    const QRectF inner = outer.adjusted(1.5, 1.5, -1.5, -1.5);
    const double innerRadius = qMax(0.0, radius - 1.5);
    painter.setPen(QPen(DashboardPalette::white(0.9), 1));
    painter.drawRoundedRect(inner, innerRadius, innerRadius);
}
} // namespace

FocusRing* FocusRing::install(QWidget* root) {
    return new FocusRing(root);
}

FocusRing::FocusRing(QWidget* root) : QObject(root), m_root(root) {
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
    follow(QApplication::focusWidget());
}

bool FocusRing::wants(const QWidget* widget) const {
    // The switch draws a ring of its own around its track.
    return widget && qobject_cast<const QAbstractButton*>(widget) && m_root->isAncestorOf(widget) &&
           !widget->inherits("DashboardSwitch") && !widget->property("ownFocusRing").toBool();
}

void FocusRing::follow(QWidget* now) {
    QWidget* next = wants(now) ? now : nullptr;
    if (next == m_current) {
        return;
    }
    if (m_current) {
        m_current->removeEventFilter(this);
        m_current->update();
    }
    m_current = next;
    if (m_current) {
        // Qt marks the window when a focus change comes from Tab, Shift+Tab or a shortcut.
        m_fromKeyboard = QGuiApplication::mouseButtons() == Qt::NoButton &&
                         m_current->window()->testAttribute(Qt::WA_KeyboardFocusChange);
        m_current->installEventFilter(this);
        m_current->update();
    }
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_current) {
        return QObject::eventFilter(watched, event);
    }
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (m_fromKeyboard) {
            m_fromKeyboard = false;
            widget->update();
        }
        return false;
    case QEvent::KeyPress:
        // Back on the keyboard (Space on a clicked button): the ring shows again.
        if (!m_fromKeyboard) {
            m_fromKeyboard = true;
            widget->update();
        }
        return false;
    case QEvent::Paint: {
        // The button paints itself first; the ring goes on top.
        const bool handled = static_cast<QObject*>(widget)->event(event); // QObject::event is public
        if (m_fromKeyboard && widget->hasFocus()) {
            paintRing(widget);
        }
        return handled;
    }
    default:
        return false;
    }
}
