#include "TextUtilities.h"

#include <QTextBoundaryFinder>

namespace Text {

qsizetype graphemeCount(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

QString trimmed(const QString& text) {
    return text.trimmed();
}

QString uuidText(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QString newUuidText() {
    return uuidText(QUuid::createUuid());
}

} // namespace Text
