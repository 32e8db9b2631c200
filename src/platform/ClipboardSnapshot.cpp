#include "ClipboardSnapshot.h"

#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <QSet>

#include <memory>

namespace {
const QString kPng = QStringLiteral("image/png");

// Names of the X selection protocol (and X resource ids), not formats with bytes of their own; and Qt's
// in-process image, which mirrors the image/* formats.
bool isProtocolTarget(const QString& format) {
    static const QSet<QString> names{
        "TARGETS",         "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",   "INSERT_SELECTION",
        "INSERT_PROPERTY", "BITMAP",   "PIXMAP",    "DRAWABLE",     "COLORMAP", "application/x-qt-image"};
    return names.contains(format);
}
} // namespace

ClipboardSnapshot ClipboardSnapshot::capture(const QClipboard& clipboard) {
    ClipboardSnapshot snapshot;
    const QMimeData* mime = clipboard.mimeData(QClipboard::Clipboard);
    if (!mime) {
        return snapshot;
    }
    const QStringList formats = mime->formats();
    // An image offered as PNG is kept once, losslessly: the other image/* formats are encodings of the same
    // picture (asking the owner for each could take seconds for a large one) and are offered again from it.
    const bool png = formats.contains(kPng);
    for (const QString& format : formats) {
        if (isProtocolTarget(format) ||
            (png && format.startsWith(QLatin1String("image/")) && format != kPng)) {
            continue;
        }
        snapshot.m_items.append({format, mime->data(format)});
    }
    // An owner that only offers Qt's in-process image (our own process) still gets its image kept.
    if (!png && mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        QByteArray bytes;
        QBuffer buffer(&bytes);
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG")) {
            snapshot.m_items.append({kPng, bytes});
        }
    }
    return snapshot;
}

ClipboardSnapshot ClipboardSnapshot::fromFormats(QList<std::pair<QString, QByteArray>> items) {
    ClipboardSnapshot snapshot;
    snapshot.m_items = std::move(items);
    return snapshot;
}

QStringList ClipboardSnapshot::formats() const {
    QStringList result;
    for (const auto& item : m_items) {
        result.append(item.first);
    }
    return result;
}

QByteArray ClipboardSnapshot::data(const QString& format) const {
    for (const auto& item : m_items) {
        if (item.first == format) {
            return item.second;
        }
    }
    return {};
}

std::optional<QString> ClipboardSnapshot::text() const {
    std::unique_ptr<QMimeData> mime(toMimeData());
    if (!mime->hasText()) {
        return std::nullopt;
    }
    return mime->text();
}

QMimeData* ClipboardSnapshot::toMimeData() const {
    auto* mime = new QMimeData;
    for (const auto& [format, bytes] : m_items) {
        QImage image;
        if (format == kPng && image.loadFromData(bytes, "PNG")) {
            mime->setImageData(image); // offered again in every image format
        } else {
            mime->setData(format, bytes);
        }
    }
    return mime;
}

void ClipboardSnapshot::restore(QClipboard& clipboard) const {
    if (m_items.isEmpty()) {
        clipboard.clear(QClipboard::Clipboard);
    } else {
        clipboard.setMimeData(toMimeData(), QClipboard::Clipboard);
    }
}
