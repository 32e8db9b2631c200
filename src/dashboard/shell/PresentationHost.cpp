#include "PresentationHost.h"

#include "DashboardLook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

PresentationHost::PresentationHost(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("presentationHost"));
    setFocusPolicy(Qt::StrongFocus);
    window->installEventFilter(this);
    setGeometry(window->rect());
    hide();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { keepFocusInside(now); });
}

void PresentationHost::present(const QString& key, Factory build, std::function<void()> dismiss) {
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key == key) {
            m_entries[i].build = std::move(build);
            m_entries[i].dismiss = std::move(dismiss);
            if (i == 0) {
                showFront();
            }
            return;
        }
    }
    m_entries.append({key, std::move(build), std::move(dismiss)});
    if (m_entries.size() == 1) {
        showFront();
    }
}

void PresentationHost::withdraw(const QString& key) {
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key == key) {
            m_entries.removeAt(i);
            if (i == 0) {
                showFront();
            }
            return;
        }
    }
}

QString PresentationHost::currentKey() const {
    return m_entries.isEmpty() ? QString() : m_entries.first().key;
}

QStringList PresentationHost::queuedKeys() const {
    QStringList keys;
    for (qsizetype i = 1; i < m_entries.size(); ++i) {
        keys << m_entries[i].key;
    }
    return keys;
}

void PresentationHost::showFront() {
    QWidget* focused = window()->focusWidget();
    const bool hadFocus = focused == this || isAncestorOf(focused);
    if (QWidget* old = m_content) {
        m_content = nullptr;
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    if (m_entries.isEmpty()) {
        hide();
        if (hadFocus && m_focusBefore && m_focusBefore->isVisible() && m_focusBefore->isEnabled()) {
            m_focusBefore->setFocus(Qt::OtherFocusReason);
        }
        m_focusBefore = nullptr;
        emit currentChanged(QString());
        return;
    }
    if (isHidden()) {
        m_focusBefore = focused && parentWidget()->isAncestorOf(focused) ? focused : nullptr;
    }
    m_content = m_entries.first().build();
    m_content->setParent(this);
    // Built apart from the window, it takes the window's light palette here (under the window's style
    // sheet a reparented widget keeps the one it was made with).
    m_content->setPalette(palette());
    layoutContent();
    m_content->show();
    show();
    raise();
    // A presentation that names where typing goes (its focus proxy) gets the focus; Escape still reaches
    // the host through the parent chain.
    if (m_content->focusProxy())
        m_content->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
    emit currentChanged(m_entries.first().key);
}

QRect PresentationHost::panelGeometry() const {
    if (!m_content) {
        return {};
    }
    // The presentation's own width, as far as its limits and the host's room allow; then the height its
    // content needs at that width. What cannot shrink to the room keeps its size and stays centred.
    const QSize room = (size() - QSize(2 * kMargin, 2 * kMargin)).expandedTo(QSize(0, 0));
    const QSize hint = m_content->sizeHint();
    int width = std::min(hint.width(), room.width());
    width = std::clamp(width, m_content->minimumWidth(), m_content->maximumWidth());
    int height = hint.height();
    if (m_content->hasHeightForWidth()) {
        height = m_content->heightForWidth(width);
    } else if (m_content->layout() && m_content->layout()->hasHeightForWidth()) {
        height = std::max(height, m_content->layout()->totalHeightForWidth(width));
    }
    height =
        std::clamp(std::min(height, room.height()), m_content->minimumHeight(), m_content->maximumHeight());
    return QRect(QPoint((this->width() - width) / 2, (this->height() - height) / 2), QSize(width, height));
}

void PresentationHost::layoutContent() {
    if (m_content) {
        m_content->setGeometry(panelGeometry());
    }
    update();
}

bool PresentationHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void PresentationHost::resizeEvent(QResizeEvent*) {
    layoutContent();
}

void PresentationHost::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), DashboardPalette::black(0.28));
    if (m_content) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(m_content->geometry()), 14, 14);
        painter.fillPath(path, DashboardPalette::shellBackground());
        painter.setPen(QPen(DashboardPalette::black(0.08), 1));
        painter.drawPath(path);
    }
}

QList<QWidget*> PresentationHost::tabStops() const {
    QList<QWidget*> stops;
    if (!m_content) {
        return stops;
    }
    // The window's focus chain is one ring; the presentation's widgets are the part of it inside it.
    QWidget* widget = m_content;
    do {
        if (m_content->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) &&
            widget->isVisibleTo(m_content) && widget->isEnabled() && !widget->focusProxy()) {
            stops.append(widget);
        }
        widget = widget->nextInFocusChain();
    } while (widget && widget != m_content);
    return stops;
}

bool PresentationHost::focusNextPrevChild(bool next) {
    if (!m_content) {
        return QWidget::focusNextPrevChild(next);
    }
    const QList<QWidget*> stops = tabStops();
    if (stops.isEmpty()) {
        setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    QWidget* current = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype i = 0; i < stops.size(); ++i) {
        if (stops[i] == current || stops[i]->isAncestorOf(current)) {
            at = i;
            break;
        }
    }
    const qsizetype count = stops.size();
    const qsizetype to = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void PresentationHost::keepFocusInside(QWidget* now) {
    // Focus given to anything behind the scrim (a page setting it, a window activation) comes back to
    // the presentation, so keys never reach what the user cannot see.
    if (!m_content || !isVisible() || !now || now == this || isAncestorOf(now) || now->window() != window()) {
        return;
    }
    QWidget* target = m_content->focusProxy() ? m_content.data() : this;
    target->setFocus(Qt::OtherFocusReason);
}

void PresentationHost::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && !m_entries.isEmpty()) {
        if (const auto dismiss = m_entries.first().dismiss) {
            dismiss();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The scrim swallows clicks: nothing under a presentation can be used until it closes.
void PresentationHost::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
