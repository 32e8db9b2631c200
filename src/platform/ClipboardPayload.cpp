#include "ClipboardPayload.h"

ClipboardPayload::ClipboardPayload(const QString& text) {
    setText(text);
}

QVariant ClipboardPayload::retrieveData(const QString& mimeType, QMetaType type) const {
    ++m_fetchCount;
    emit const_cast<ClipboardPayload*>(this)->fetched();
    return QMimeData::retrieveData(mimeType, type);
}
