#include "ClipboardSnapshot.h"

#include "X11SelectionReader.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QSet>

#include <memory>

namespace {
const QString kPng = QStringLiteral("image/png");
const QString kTextPlain = QStringLiteral("text/plain");

// Names of the X selection protocol (and X resource ids), not formats with bytes of their own; and Qt's
// in-process image, which mirrors the image/* formats.
bool isProtocolTarget(const QString& format) {
    static const QSet<QString> names{"TARGETS",
                                     "MULTIPLE",
                                     "TIMESTAMP",
                                     "SAVE_TARGETS",
                                     "DELETE",
                                     "INSERT_SELECTION",
                                     "INSERT_PROPERTY",
                                     "BITMAP",
                                     "PIXMAP",
                                     "DRAWABLE",
                                     "COLORMAP",
                                     "LENGTH",
                                     "application/x-qt-image"};
    return names.contains(format);
}

// X's names for plain text. Qt's clipboard serves all of them (and "text/plain") from one "text/plain"
// format; the first one found here gives its bytes (the pasting application most likely asks for it).
const QStringList& textAliases() {
    static const QStringList names{"UTF8_STRING", kTextPlain, "text/plain;charset=utf-8", "STRING", "TEXT"};
    return names;
}
bool isFoldedIntoTextPlain(const QString& format) {
    return format == QLatin1String("UTF8_STRING") || format == QLatin1String("STRING") ||
           format == QLatin1String("TEXT") || format == kTextPlain;
}

QByteArray writerFormat(const QString& mimeType) {
    const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType(mimeType.toLatin1());
    return formats.isEmpty() ? QByteArray() : formats.first();
}

bool isImageMadeFromPng(const QString& format, const QStringList& offered) {
    return format != kPng && format.startsWith(QLatin1String("image/")) && offered.contains(kPng) &&
           !writerFormat(format).isEmpty();
}

// Offers exactly the snapshot's formats: stored bytes as they are, the other image formats encoded from
// the PNG on the first request for each.
class SnapshotMimeData : public QMimeData {
public:
    // The snapshot it offers (taken again as it is while we still own the clipboard).
    ClipboardSnapshot source;

    void add(const QString& format, const QByteArray& bytes) {
        if (!m_formats.contains(format)) {
            m_formats.append(format);
        }
        m_bytes.insert(format, bytes);
    }
    void addMadeFromPng(const QString& format) {
        if (!m_formats.contains(format)) {
            m_formats.append(format);
        }
    }

    QStringList formats() const override { return m_formats; }
    bool hasFormat(const QString& format) const override { return m_formats.contains(format); }

protected:
    QVariant retrieveData(const QString& format, QMetaType) const override {
        if (!m_formats.contains(format)) {
            return {};
        }
        if (auto it = m_bytes.constFind(format); it != m_bytes.constEnd()) {
            return *it;
        }
        QImage image;
        QByteArray encoded;
        QBuffer buffer(&encoded);
        if (image.loadFromData(m_bytes.value(kPng), "PNG") && buffer.open(QIODevice::WriteOnly)) {
            QImageWriter writer(&buffer, writerFormat(format));
            if (!writer.write(image)) {
                encoded.clear();
            }
        }
        m_bytes.insert(format, encoded);
        return encoded;
    }

private:
    QStringList m_formats;
    mutable QHash<QString, QByteArray> m_bytes;
};
} // namespace

ClipboardSnapshot ClipboardSnapshot::capture(const QClipboard& clipboard) {
    // While our own process owns the clipboard, only Qt can answer (it would not while we wait here).
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !clipboard.ownsClipboard()) {
        return captureFromOwner();
    }
    return captureFromQt(clipboard);
}

ClipboardSnapshot ClipboardSnapshot::captureFromOwner() {
    ClipboardSnapshot snapshot;
    const auto wanted = [](const QString& target, const QStringList& targets) {
        return !isProtocolTarget(target) && !isImageMadeFromPng(target, targets);
    };
    const std::optional<X11SelectionReader::Content> content =
        X11SelectionReader::read("CLIPBOARD", captureTimeout, wanted);
    if (!content) {
        return snapshot;
    }
    for (const QString& target : content->targets) {
        if (isProtocolTarget(target)) {
            continue;
        }
        if (isImageMadeFromPng(target, content->targets)) {
            snapshot.m_entries.append({target, {}, true});
            continue;
        }
        for (const auto& [format, bytes] : content->items) {
            if (format == target) {
                snapshot.m_entries.append({format, bytes, false});
                break;
            }
        }
    }
    // An image whose PNG could not be read has nothing to be made from.
    if (!snapshot.formats().contains(kPng)) {
        snapshot.m_entries.removeIf([](const Entry& entry) { return entry.fromPng; });
    }
    return snapshot;
}

ClipboardSnapshot ClipboardSnapshot::captureFromQt(const QClipboard& clipboard) {
    ClipboardSnapshot snapshot;
    const QMimeData* mime = clipboard.mimeData(QClipboard::Clipboard);
    if (!mime) {
        return snapshot;
    }
    // Our own restored snapshot: as it is (its image formats are not made from the PNG just to be kept).
    if (const auto* restored = dynamic_cast<const SnapshotMimeData*>(mime)) {
        return restored->source;
    }
    const QStringList formats = mime->formats();
    for (const QString& format : formats) {
        if (!isProtocolTarget(format)) {
            snapshot.m_entries.append({format, mime->data(format), false});
        }
    }
    // Qt's in-process image (our own process put a QImage there) is kept as PNG.
    if (!formats.contains(kPng) && mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        QByteArray bytes;
        QBuffer buffer(&bytes);
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG")) {
            snapshot.m_entries.append({kPng, bytes, false});
        }
    }
    return snapshot;
}

ClipboardSnapshot ClipboardSnapshot::fromFormats(QList<std::pair<QString, QByteArray>> items) {
    ClipboardSnapshot snapshot;
    for (auto& [format, bytes] : items) {
        snapshot.m_entries.append({std::move(format), std::move(bytes), false});
    }
    return snapshot;
}

QStringList ClipboardSnapshot::formats() const {
    QStringList result;
    for (const Entry& entry : m_entries) {
        result.append(entry.format);
    }
    return result;
}

QByteArray ClipboardSnapshot::data(const QString& format) const {
    for (const Entry& entry : m_entries) {
        if (entry.format == format) {
            return entry.bytes;
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
    auto* mime = new SnapshotMimeData;
    mime->source = *this;
    const QStringList offered = formats();
    for (const Entry& entry : m_entries) {
        if (entry.fromPng) {
            mime->addMadeFromPng(entry.format);
        } else if (isFoldedIntoTextPlain(entry.format)) {
            if (!mime->hasFormat(kTextPlain)) {
                for (const QString& alias : textAliases()) {
                    if (offered.contains(alias)) {
                        QByteArray bytes = data(alias);
                        if (alias == QLatin1String("STRING") || alias == QLatin1String("TEXT")) {
                            bytes = QString::fromLatin1(bytes).toUtf8(); // Latin-1 by definition
                        }
                        mime->add(kTextPlain, bytes);
                        break;
                    }
                }
            }
        } else {
            mime->add(entry.format, entry.bytes);
        }
    }
    return mime;
}

void ClipboardSnapshot::restore(QClipboard& clipboard) const {
    if (m_entries.isEmpty()) {
        clipboard.clear(QClipboard::Clipboard);
    } else {
        clipboard.setMimeData(toMimeData(), QClipboard::Clipboard);
    }
}
