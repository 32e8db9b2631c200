#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

class QClipboard;
class QMimeData;

// Everything the clipboard held at one moment: every format with its bytes (text, rich text, images,
// file lists...), so that putting it back loses nothing.
class ClipboardSnapshot {
public:
    ClipboardSnapshot() = default;

    // Reads every format the clipboard's owner offers.
    static ClipboardSnapshot capture(const QClipboard& clipboard);
    // Builds one from a list of formats (tests).
    static ClipboardSnapshot fromFormats(QList<std::pair<QString, QByteArray>> items);

    bool isEmpty() const { return m_items.isEmpty(); }
    QStringList formats() const;
    QByteArray data(const QString& format) const;
    std::optional<QString> text() const;

    // A new mime-data object holding every format (the clipboard takes ownership of it).
    QMimeData* toMimeData() const;
    // Makes the clipboard hold exactly this again; an empty snapshot leaves the clipboard empty.
    void restore(QClipboard& clipboard) const;

private:
    QList<std::pair<QString, QByteArray>> m_items;
};
