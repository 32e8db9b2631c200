#pragma once

#include <QLabel>
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

// A plain-text label that wraps at word boundaries (inside a word only where one word is wider than the
// label) and stops after `maxLines` lines (0: no limit), the last kept line ending in "…". text() stays
// the whole text. It asks for its whole text's width but can be narrowed to a few characters, so a long
// text never widens what holds it.
class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(int maxLines = 1, QWidget* parent = nullptr);

    int maxLines() const { return m_maxLines; }
    // The lines as drawn at the current width.
    QStringList displayedLines() const;
    bool isElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maxLines != 1; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList linesFor(int width) const;
    int m_maxLines;
};
