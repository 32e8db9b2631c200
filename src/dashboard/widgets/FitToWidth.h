#pragma once

#include <QList>
#include <QWidget>

// Shows the first of several alternative arrangements whose width fits the space it is given, and the last
// one when none fits. The choice depends on the width alone, and the minimum width is that of the narrowest
// alternative, so the layouts around it settle instead of oscillating.
class FitToWidth : public QWidget {
    Q_OBJECT
public:
    explicit FitToWidth(QWidget* parent = nullptr);

    // Adds the next alternative; it needs `requiredWidth`, or its size hint's width when that is negative.
    void addAlternative(QWidget* alternative, int requiredWidth = -1);

    int currentIndex() const { return m_current; }
    QWidget* currentWidget() const;
    // The alternative chosen for `width`.
    int indexForWidth(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    void currentIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Alternative {
        QWidget* widget;
        int requiredWidth;
    };
    int requiredWidth(const Alternative& alternative) const;
    static int heightOf(QWidget* widget, int width);
    void choose();

    QList<Alternative> m_alternatives;
    int m_current = -1;
};
