#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class ElidingLabel;

// One line of chips, left to right: a chip wider than its maximum ends in "…", and the chips that do not
// fit the row's width are left out (the last one that shows may be shortened to fit). The row never wraps
// and never asks for more width than it is given.
class ChipRow : public QWidget {
    Q_OBJECT
public:
    // `makeChip` styles each new chip (font, colours, padding).
    ChipRow(std::function<void(ElidingLabel*)> makeChip, QWidget* parent = nullptr);

    void setChips(const QStringList& texts);
    QStringList chips() const { return m_texts; }
    // The chips shown at the current width.
    int shownCount() const;

    static constexpr int kSpacing = 10;
    static constexpr int kChipMaximumWidth = 260;
    // A chip is only shortened down to this width; below it, it is left out.
    static constexpr int kChipMinimumWidth = 90;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    int chipHeight() const;

    std::function<void(ElidingLabel*)> m_makeChip;
    QStringList m_texts;
    QList<ElidingLabel*> m_chips;
};
