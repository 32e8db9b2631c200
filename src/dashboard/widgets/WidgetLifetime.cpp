#include "WidgetLifetime.h"

#include <QWidget>

void discardLater(QWidget* widget) {
    if (!widget) {
        return;
    }
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}
