#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

// The window's sheets and alerts: an in-window panel over a scrim that blocks the rest of the window. One
// presentation is shown at a time; the others wait in the order they came. Every presentation is named by
// a key and built when it is shown, so a waiting one shows the values of its own moment. Escape, like the
// presentation's own close buttons, only asks its owner to close it (the `dismiss` callback writes the
// owner's state back); the owner then withdraws it. While a presentation is shown the keyboard stays in
// it: Tab and Shift+Tab cycle through its controls, and focus that lands anywhere else in the window is
// brought back. When the last one closes, the focus returns to where it was before. Nothing here blocks
// or runs a nested event loop.
class PresentationHost : public QWidget {
    Q_OBJECT
public:
    using Factory = std::function<QWidget*()>;

    // Covers `window` and follows its size.
    explicit PresentationHost(QWidget* window);

    // Shows the presentation, or queues it behind the one shown. A key already shown is rebuilt in place
    // (its new content replaces the old); a key already waiting keeps its place with the new factory.
    void present(const QString& key, Factory build, std::function<void()> dismiss);
    // Closes the presentation (the next waiting one is shown) or drops it from the queue.
    void withdraw(const QString& key);

    QString currentKey() const;
    QStringList queuedKeys() const;
    QWidget* currentContent() const { return m_content; }
    // The panel's rectangle inside the host: centred, at least this far from every edge where it can shrink.
    static constexpr int kMargin = 12;
    QRect panelGeometry() const;

signals:
    void currentChanged(const QString& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Entry {
        QString key;
        Factory build;
        std::function<void()> dismiss;
    };
    void showFront();
    void layoutContent();
    // The presentation's controls that Tab reaches, in the window's tab order.
    QList<QWidget*> tabStops() const;
    void keepFocusInside(QWidget* now);

    QList<Entry> m_entries; // the first is shown
    QPointer<QWidget> m_content;
    // Where the keyboard was before the first presentation opened.
    QPointer<QWidget> m_focusBefore;
};
