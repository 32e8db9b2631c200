#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <utility>

class QClipboard;
class QMimeData;

// Everything the clipboard held at one moment: every format its owner offered, with the owner's own bytes
// (text, rich text, images, file lists, private types...), so that putting it back loses nothing.
//
// On X11 the formats are the owner's targets, read straight from it (nothing decoded or re-encoded). An
// image offered as PNG is read once: the other image formats the owner offered beside it are encodings of
// the same picture (asking for each can take seconds for a large one), offered again and made from the PNG
// when a paste asks for them.
class ClipboardSnapshot {
public:
    // The longest a capture waits for the clipboard's owner, all formats together.
    static constexpr std::chrono::milliseconds captureTimeout{3000};

    ClipboardSnapshot() = default;

    // Reads every format the clipboard's owner offers.
    static ClipboardSnapshot capture(const QClipboard& clipboard);
    // Builds one from a list of formats (tests).
    static ClipboardSnapshot fromFormats(QList<std::pair<QString, QByteArray>> items);

    bool isEmpty() const { return m_entries.isEmpty(); }
    // The formats as the owner named them, in its order.
    QStringList formats() const;
    // The owner's bytes of `format` (empty for an image format made from the PNG).
    QByteArray data(const QString& format) const;
    std::optional<QString> text() const;

    // A new mime-data object offering every format (the clipboard takes ownership of it).
    QMimeData* toMimeData() const;
    // Makes the clipboard hold exactly this again; an empty snapshot leaves the clipboard empty.
    void restore(QClipboard& clipboard) const;

private:
    struct Entry {
        QString format;
        QByteArray bytes;
        bool fromPng = false; // an image format made from the image/png entry when asked for
    };

    static ClipboardSnapshot captureFromOwner();
    static ClipboardSnapshot captureFromQt(const QClipboard& clipboard);

    QList<Entry> m_entries;
};
