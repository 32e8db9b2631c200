#pragma once

#include <QWidget>

// Plain text wrapped at word boundaries and cut after `maxLines` lines, the last kept line ending in "…".
// No markup is ever interpreted. Any length of text costs only what fits (DisplayText), and the lines of
// the last width asked for are kept until the text, the font or the width changes.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(int maxLines, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    int maxLines() const { return m_maxLines; }

    // The lines shown at `width`, after wrapping and eliding.
    QStringList displayedLines(int width) const;
    bool isElided(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text;
    int m_maxLines;
    QColor m_color;
    mutable int m_linesWidth = -1; // the width m_lines were laid out at; -1: none
    mutable QStringList m_lines;
};
