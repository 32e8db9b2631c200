#include "StorageNotices.h"

#include <algorithm>

StorageNotices& StorageNotices::instance() {
    static auto* notices = new StorageNotices; // never destroyed: stores report until the process ends
    return *notices;
}

void StorageNotices::report(const QString& key, const QString& text) {
    const auto it = std::find_if(m_notices.begin(), m_notices.end(),
                                 [&](const Notice& notice) { return notice.key == key; });
    if (it == m_notices.end()) {
        m_notices.append({key, text});
    } else if (it->text != text) {
        it->text = text;
    } else {
        return;
    }
    emit changed();
}

void StorageNotices::withdraw(const QString& key) {
    const auto removed = m_notices.removeIf([&](const Notice& notice) { return notice.key == key; });
    if (removed > 0) {
        emit changed();
    }
}

void StorageNotices::clear() {
    if (!m_notices.isEmpty()) {
        m_notices.clear();
        emit changed();
    }
}

QStringList StorageNotices::texts() const {
    QStringList result;
    for (const Notice& notice : m_notices) {
        result.append(notice.text);
    }
    return result;
}
