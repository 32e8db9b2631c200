#include "TextUtilities.h"

#include <QTextBoundaryFinder>

#include <algorithm>
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

namespace {
bool isUnsafe(char16_t c) {
    if (c < 0x20) {
        return c != u'\n' && c != u'\t';
    }
    return (c >= 0x7F && c <= 0x9F) ||     // DEL and the C1 controls
           (c >= 0x202A && c <= 0x202E) || // LRE, RLE, PDF, LRO, RLO
           (c >= 0x2066 && c <= 0x2069);   // LRI, RLI, FSI, PDI
}
} // namespace

QString withoutControlCharacters(const QString& text) {
    const auto unsafe =
        std::find_if(text.cbegin(), text.cend(), [](QChar c) { return isUnsafe(c.unicode()); });
    if (unsafe == text.cend()) {
        return text; // the usual case: no copy
    }
    QString out;
    out.reserve(text.size());
    out.append(QStringView(text.cbegin(), unsafe));
    for (auto it = unsafe; it != text.cend(); ++it) {
        const char16_t c = it->unicode();
        if (c == u'\r' && it + 1 != text.cend() && (it + 1)->unicode() == u'\n') {
            continue; // the line feed that follows stays
        }
        if (!isUnsafe(c)) {
            out.append(*it);
        }
    }
    return out;
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
