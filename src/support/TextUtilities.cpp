#include "TextUtilities.h"

#include <QTextBoundaryFinder>

#include <cstring>

namespace {
// strerror_r comes in two forms: the GNU one returns the text, the POSIX one fills the buffer.
[[maybe_unused]] const char* errorTextOf(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* errorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
} // namespace

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

QString leadingGraphemes(const QString& text, qsizetype count) {
    if (count <= 0) {
        return QString();
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            return text;
        }
        position = next;
    }
    return text.left(position);
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

QString systemErrorText(int errorNumber) {
    char buffer[256] = {};
    return QString::fromLocal8Bit(errorTextOf(strerror_r(errorNumber, buffer, sizeof buffer), buffer));
}

} // namespace Text
