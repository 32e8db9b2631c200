#pragma once

#include <QMimeData>

// Text we put on the clipboard for a paste. On X11 the pasting window pulls the data from us when it
// pastes; this object counts those requests, so the user's clipboard is put back only after the target
// has fetched our text.
class ClipboardPayload : public QMimeData {
    Q_OBJECT

public:
    explicit ClipboardPayload(const QString& text);

    int fetchCount() const { return m_fetchCount; }

signals:
    void fetched();

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    mutable int m_fetchCount = 0;
};
