#include "StorageNoticeLabel.h"

#include "DashboardLook.h"
#include "StorageNotices.h"

StorageNoticeLabel::StorageNoticeLabel(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("storageNotice"));
    setTextFormat(Qt::PlainText);
    setWordWrap(true); // a long path wraps instead of widening the page
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFont(DashboardFonts::font(12, QFont::DemiBold));
    setLabelColor(this, QColor::fromRgbF(0.66, 0.27, 0.05));
    connect(&StorageNotices::instance(), &StorageNotices::changed, this, &StorageNoticeLabel::sync);
    sync();
}

void StorageNoticeLabel::sync() {
    const QString text = StorageNotices::instance().texts().join(QLatin1Char('\n'));
    if (this->text() != text) {
        setText(text);
    }
    setAccessibleName(text);
    if (text.isEmpty()) {
        hide();
    } else if (parentWidget()) {
        show(); // never as a window of its own
    }
}
