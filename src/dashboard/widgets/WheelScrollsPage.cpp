#include "WheelScrollsPage.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// The scroll area whose viewport holds `widget`, or none.
QAbstractScrollArea* enclosingScrollArea(QWidget* widget) {
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(parent);
            area && area->viewport()->isAncestorOf(widget)) {
            return area;
        }
    }
    return nullptr;
}

class WheelToPage final : public QObject {
public:
    static inline const QString kName = QStringLiteral("wheelScrollsPage");

    explicit WheelToPage(QObject* parent) : QObject(parent) { setObjectName(kName); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel || !watched->isWidgetType()) {
            return false;
        }
        auto* control = static_cast<QWidget*>(watched);
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (QAbstractScrollArea* area = enclosingScrollArea(control)) {
            QWidget* viewport = area->viewport();
            QWheelEvent forwarded(viewport->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(),
                                  wheel->pixelDelta(), wheel->angleDelta(), wheel->buttons(),
                                  wheel->modifiers(), wheel->phase(), wheel->inverted(), wheel->source(),
                                  wheel->pointingDevice());
            forwarded.setTimestamp(wheel->timestamp());
            QApplication::sendEvent(viewport, &forwarded);
        }
        // Taken either way: the control never sees the wheel.
        wheel->accept();
        return true;
    }
};

bool takesWheelForValue(QWidget* widget) {
    if (qobject_cast<QScrollBar*>(widget)) {
        return false;
    }
    return qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSlider*>(widget) ||
           qobject_cast<QAbstractSpinBox*>(widget);
}

} // namespace

void wheelScrollsPage(QWidget* root) {
    QObject* filter = root->findChild<QObject*>(WheelToPage::kName, Qt::FindDirectChildrenOnly);
    if (!filter) {
        filter = new WheelToPage(root);
    }
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (takesWheelForValue(widget)) {
            widget->installEventFilter(filter);
        }
    }
}
