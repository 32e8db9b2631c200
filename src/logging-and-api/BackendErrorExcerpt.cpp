#include "BackendErrorExcerpt.h"

#include "TextUtilities.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace BackendErrorExcerpt {

namespace {

const QString kRedacted = QStringLiteral("<redacted>");
// Bodies up to this size are read as JSON, so that values spelled with escapes are found too.
constexpr qsizetype kLargestJsonAnswer = 64 * 1024;

void collectStrings(const QJsonValue& value, QStringList& into) {
    if (value.isString()) {
        into << value.toString();
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray()) {
            collectStrings(item, into);
        }
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            collectStrings(it.value(), into);
        }
    }
}

// Marks in `hidden` every character of `text` that belongs to a repeat of sent material or to a long
// run of token characters.
void markSecrets(QStringView text, const QStringList& sent, std::vector<bool>& hidden) {
    // Each window of the text, by hash: the sent values are then read once, window by window.
    QMultiHash<size_t, qsizetype> windows;
    for (qsizetype i = 0; i + kMatchLength <= text.size(); ++i) {
        windows.insert(qHash(text.mid(i, kMatchLength)), i);
    }
    for (const QString& value : sent) {
        const QStringView view(value);
        if (view.size() < kShortestValue) {
            continue;
        }
        if (view.size() < kMatchLength) {
            for (qsizetype at = text.indexOf(view); at >= 0; at = text.indexOf(view, at + 1)) {
                std::fill(hidden.begin() + at, hidden.begin() + at + view.size(), true);
            }
            continue;
        }
        if (windows.isEmpty()) {
            continue;
        }
        for (qsizetype j = 0; j + kMatchLength <= view.size(); ++j) {
            const QStringView window = view.mid(j, kMatchLength);
            const auto [first, last] = windows.equal_range(qHash(window));
            for (auto it = first; it != last; ++it) {
                if (text.mid(*it, kMatchLength) == window) {
                    std::fill(hidden.begin() + *it, hidden.begin() + *it + kMatchLength, true);
                }
            }
        }
    }
    // Credentials the request did not carry: long runs of the characters tokens are made of, with a digit.
    static const QRegularExpression token(QStringLiteral("[A-Za-z0-9_~+/=.-]{32,}"));
    static const QRegularExpression digit(QStringLiteral("[0-9]"));
    for (auto it = token.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedView().contains(digit)) {
            std::fill(hidden.begin() + match.capturedStart(), hidden.begin() + match.capturedEnd(), true);
        }
    }
}

// `text` with each marked stretch replaced by the redaction mark, up to `length` characters of it.
QString redacted(QStringView text, const QStringList& sent, qsizetype length) {
    // A repeat that reaches past the cut is still seen whole enough to be recognised.
    const QStringView examined = text.left(length + kMatchLength);
    std::vector<bool> hidden(size_t(examined.size()), false);
    markSecrets(examined, sent, hidden);
    QString out;
    const qsizetype end = std::min(length, examined.size());
    for (qsizetype i = 0; i < end; ++i) {
        if (!hidden[size_t(i)]) {
            out.append(examined[i]);
        } else if (i == 0 || !hidden[size_t(i - 1)]) {
            out.append(kRedacted);
        }
    }
    return out;
}

// A JSON answer with every string value that repeats sent material redacted, written compactly; the
// answer's own text when nothing in it had to be hidden (or it is no JSON).
QString withJsonValuesRedacted(const QString& answer, const QStringList& sent) {
    if (answer.size() > kLargestJsonAnswer) {
        return answer;
    }
    const QJsonDocument document = QJsonDocument::fromJson(answer.toUtf8());
    if (document.isNull()) {
        return answer;
    }
    const QJsonValue root =
        document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    QStringList strings;
    collectStrings(root, strings);
    // All values are examined as one text (a noncharacter between them, which no repeat can span), so
    // that the sent material is read once whatever the number of values.
    const QChar separator(0xFFFF);
    const QString joined = strings.join(separator);
    std::vector<bool> hidden(size_t(joined.size()), false);
    markSecrets(joined, sent, hidden);
    if (std::find(hidden.begin(), hidden.end(), true) == hidden.end()) {
        return answer;
    }
    QStringList replacements;
    QString current;
    for (qsizetype i = 0; i <= joined.size(); ++i) {
        if (i == joined.size() || joined[i] == separator) {
            replacements << current;
            current.clear();
        } else if (!hidden[size_t(i)]) {
            current.append(joined[i]);
        } else if (i == 0 || !hidden[size_t(i - 1)]) {
            current.append(kRedacted);
        }
    }
    qsizetype next = 0;
    const auto replace = [&](const auto& self, const QJsonValue& value) -> QJsonValue {
        if (value.isString()) {
            return replacements.value(next++);
        }
        if (value.isArray()) {
            QJsonArray array;
            for (const QJsonValue& item : value.toArray()) {
                array.append(self(self, item));
            }
            return array;
        }
        if (value.isObject()) {
            QJsonObject object = value.toObject();
            for (auto it = object.begin(); it != object.end(); ++it) {
                it.value() = self(self, it.value());
            }
            return object;
        }
        return value;
    };
    const QJsonValue out = replace(replace, root);
    const QJsonDocument written =
        out.isObject() ? QJsonDocument(out.toObject()) : QJsonDocument(out.toArray());
    return QString::fromUtf8(written.toJson(QJsonDocument::Compact));
}

} // namespace

QString of(const QString& answer, const QStringList& sent) {
    const QString text = withJsonValuesRedacted(answer, sent);
    QStringList sentAsShown;
    sentAsShown.reserve(sent.size());
    for (const QString& value : sent) {
        sentAsShown << Text::withoutControlCharacters(value);
    }
    // Control characters go first, so that they can neither split a repeat nor hide in the excerpt; white
    // space collapses after the redaction, which compares the text as it was sent.
    const QString shown =
        redacted(Text::withoutControlCharacters(text), sentAsShown, kMaxLength + 1).simplified();
    if (shown.size() <= kMaxLength) {
        return shown;
    }
    return shown.left(kMaxLength - 1) + QChar(0x2026);
}

QStringList jsonStrings(const QByteArray& json) {
    QStringList strings;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (document.isObject()) {
        collectStrings(document.object(), strings);
    } else if (document.isArray()) {
        collectStrings(document.array(), strings);
    }
    return strings;
}

} // namespace BackendErrorExcerpt
