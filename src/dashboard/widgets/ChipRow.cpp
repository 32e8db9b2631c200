#include "ChipRow.h"

#include "ElidedLabel.h"

#include <QResizeEvent>

#include <algorithm>

ChipRow::ChipRow(std::function<void(ElidingLabel*)> makeChip, QWidget* parent)
    : QWidget(parent), m_makeChip(std::move(makeChip)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ChipRow::setChips(const QStringList& texts) {
    if (texts == m_texts) {
        return;
    }
    m_texts = texts;
    while (m_chips.size() > texts.size()) {
        delete m_chips.takeLast();
    }
    while (m_chips.size() < texts.size()) {
        auto* chip = new ElidingLabel(1, this);
        chip->setObjectName(QStringLiteral("chip"));
        chip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        if (m_makeChip) {
            m_makeChip(chip);
        }
        m_chips.append(chip);
    }
    for (qsizetype i = 0; i < texts.size(); ++i) {
        m_chips[i]->setText(texts[i]);
        m_chips[i]->setToolTip(texts[i]);
    }
    updateGeometry();
    place();
}

int ChipRow::shownCount() const {
    return int(std::count_if(m_chips.begin(), m_chips.end(),
                             [this](const ElidingLabel* chip) { return chip->isVisibleTo(this); }));
}

int ChipRow::chipHeight() const {
    int height = 0;
    for (const ElidingLabel* chip : m_chips) {
        chip->ensurePolished(); // a style sheet's padding counts in the size
        height = std::max(height, chip->sizeHint().height());
    }
    return height;
}

QSize ChipRow::sizeHint() const {
    int width = 0;
    for (const ElidingLabel* chip : m_chips) {
        width += (width > 0 ? kSpacing : 0) + std::min(chip->sizeHint().width(), kChipMaximumWidth);
    }
    return {width, chipHeight()};
}

QSize ChipRow::minimumSizeHint() const {
    return {0, chipHeight()};
}

void ChipRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void ChipRow::place() {
    const int height = chipHeight();
    int x = 0;
    bool full = false;
    for (ElidingLabel* chip : m_chips) {
        int chipWidth = std::min(chip->sizeHint().width(), kChipMaximumWidth);
        const int room = width() - x;
        if (!full && chipWidth > room) {
            // The last chip that shows may be shortened to the room that is left.
            full = true;
            chipWidth = room >= kChipMinimumWidth ? room : 0;
        } else if (full) {
            chipWidth = 0;
        }
        chip->setVisible(chipWidth > 0);
        if (chipWidth > 0) {
            chip->setGeometry(x, (this->height() - height) / 2, chipWidth, height);
            x += chipWidth + kSpacing;
        }
    }
}
