#include "FitToWidth.h"

#include <QEvent>
#include <QLayout>

FitToWidth::FitToWidth(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void FitToWidth::addAlternative(QWidget* alternative, int requiredWidth) {
    alternative->setParent(this);
    alternative->hide();
    m_alternatives.append({alternative, requiredWidth});
    choose();
    updateGeometry();
}

QWidget* FitToWidth::currentWidget() const {
    return m_current >= 0 ? m_alternatives[m_current].widget : nullptr;
}

int FitToWidth::requiredWidth(const Alternative& alternative) const {
    if (alternative.requiredWidth >= 0) {
        return alternative.requiredWidth;
    }
    return qMax(alternative.widget->sizeHint().width(), alternative.widget->minimumWidth());
}

int FitToWidth::indexForWidth(int width) const {
    for (int i = 0; i < m_alternatives.size(); ++i) {
        if (requiredWidth(m_alternatives[i]) <= width) {
            return i;
        }
    }
    return int(m_alternatives.size()) - 1;
}

int FitToWidth::heightOf(QWidget* widget, int width) {
    if (widget->hasHeightForWidth()) {
        return widget->heightForWidth(width);
    }
    if (widget->layout() && widget->layout()->hasHeightForWidth()) {
        return widget->layout()->totalHeightForWidth(width);
    }
    return widget->sizeHint().height();
}

QSize FitToWidth::sizeHint() const {
    if (m_alternatives.isEmpty()) {
        return {0, 0};
    }
    const int width = requiredWidth(m_alternatives.first());
    return {width, heightOf(m_alternatives.first().widget, width)};
}

QSize FitToWidth::minimumSizeHint() const {
    if (m_alternatives.isEmpty()) {
        return {0, 0};
    }
    int narrowest = requiredWidth(m_alternatives.last());
    for (const Alternative& alternative : m_alternatives) {
        narrowest = qMin(narrowest, requiredWidth(alternative));
    }
    // The height is that of the widest arrangement at its own width: the height the layouts around it
    // get from heightForWidth() at the width they give; a minimum measured at the narrowest width would
    // make a scroll area taller than its content.
    const Alternative& widest = m_alternatives.first();
    return {qMax(0, narrowest), heightOf(widest.widget, requiredWidth(widest))};
}

int FitToWidth::heightForWidth(int width) const {
    if (m_alternatives.isEmpty()) {
        return 0;
    }
    return heightOf(m_alternatives[indexForWidth(width)].widget, width);
}

void FitToWidth::resizeEvent(QResizeEvent*) {
    choose();
}

bool FitToWidth::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        choose();
        updateGeometry();
    }
    return QWidget::event(event);
}

void FitToWidth::choose() {
    if (m_alternatives.isEmpty()) {
        return;
    }
    const int index = indexForWidth(width());
    QWidget* chosen = m_alternatives[index].widget;
    chosen->setGeometry(rect());
    if (index == m_current) {
        return;
    }
    for (int i = 0; i < m_alternatives.size(); ++i) {
        m_alternatives[i].widget->setVisible(i == index);
    }
    m_current = index;
    updateGeometry();
    emit currentIndexChanged(index);
}
