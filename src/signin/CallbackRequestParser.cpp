#include "CallbackRequestParser.h"

#include <QStringDecoder>

namespace {

const QByteArray headEnd = QByteArrayLiteral("\r\n\r\n");
const QByteArray pageStyle = QByteArrayLiteral("font-family:system-ui,sans-serif;padding:32px;");

QByteArray page(const QByteArray& paragraph) {
    return QByteArrayLiteral("<html><body style=\"") + pageStyle +
           QByteArrayLiteral("\">\n<h2>Quillvane</h2>\n<p>") + paragraph +
           QByteArrayLiteral("</p>\n</body></html>");
}

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

std::optional<QByteArray> percentDecoded(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '%') {
            out.append(c);
            continue;
        }
        const auto isHex = [](char h) {
            return (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
        };
        if (i + 2 >= text.size() || !isHex(text.at(i + 1)) || !isHex(text.at(i + 2))) {
            return std::nullopt;
        }
        const int value = text.mid(i + 1, 2).toInt(nullptr, 16);
        out.append(char(value));
        i += 2;
    }
    return out;
}

// Decodes one key or value. The text as it was when it cannot be decoded (it still has to be UTF-8 itself;
// the head was checked before).
QString decodeComponent(const QByteArray& raw, bool plusIsBlank) {
    QByteArray text = raw;
    if (plusIsBlank) {
        text.replace('+', ' ');
    }
    if (const auto bytes = percentDecoded(text)) {
        if (auto decoded = strictUtf8(*bytes)) {
            return *decoded;
        }
    }
    return QString::fromUtf8(raw);
}

QList<std::pair<QString, std::optional<QString>>> parsePairs(const QByteArray& text, bool form) {
    QList<std::pair<QString, std::optional<QString>>> pairs;
    for (const QByteArray& piece : text.split('&')) {
        if (piece.isEmpty()) {
            continue;
        }
        const qsizetype equals = piece.indexOf('=');
        if (equals < 0) {
            pairs.append(
                {decodeComponent(piece, form), form ? std::optional<QString>(QString()) : std::nullopt});
            continue;
        }
        pairs.append(
            {decodeComponent(piece.left(equals), form), decodeComponent(piece.mid(equals + 1), form)});
    }
    return pairs;
}

bool isFormContentType(const QByteArray& value) {
    return value.split(';').constFirst().trimmed().toLower() == "application/x-www-form-urlencoded";
}

} // namespace

CallbackProfile CallbackProfile::apple() {
    return {std::nullopt,
            true,
            &OAuthCallback::idToken,
            page("Apple sign-in completed. You can return to the app."),
            page("Apple sign-in did not complete. You can return to the app and try again."),
            QStringLiteral("Apple OAuth callback listener")};
}

CallbackProfile CallbackProfile::google() {
    return {QStringLiteral("/oauth/google/callback"),
            false,
            &OAuthCallback::code,
            page("Google sign-in completed. You can return to the app."),
            page("Google sign-in did not complete. You can return to the app and try again."),
            QStringLiteral("OAuth callback listener")};
}

CallbackProfile CallbackProfile::microsoft(const QString& redirectPath) {
    return {redirectPath.isEmpty() ? QStringLiteral("/") : redirectPath,
            false,
            &OAuthCallback::code,
            page("Microsoft sign-in completed. You can return to Quillvane."),
            page("Microsoft sign-in did not complete. You can return to Quillvane and try again."),
            QStringLiteral("Microsoft OAuth callback listener")};
}

namespace CallbackRequestParser {

CallbackReadResult read(const QByteArray& received) {
    using Status = CallbackReadResult::Status;
    CallbackReadResult result;
    const qsizetype end = received.indexOf(headEnd);
    if (end < 0) {
        result.status = received.size() > maxRequestBytes ? Status::TooLarge : Status::Incomplete;
        return result;
    }
    const QList<QByteArray> lines = received.left(end).split('\n');
    QList<QByteArray> requestLine;
    for (const QByteArray& piece : lines.constFirst().trimmed().split(' ')) {
        if (!piece.isEmpty()) {
            requestLine.append(piece);
        }
    }
    if (requestLine.size() < 2 || !strictUtf8(received.left(end))) {
        result.status = Status::Malformed;
        return result;
    }
    qsizetype contentLength = 0;
    bool formBody = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            continue;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0) {
                result.status = Status::Malformed;
                return result;
            }
        } else if (name == "transfer-encoding") {
            // Browsers send form posts with a length; a chunked body is not something we read.
            result.status = Status::Malformed;
            return result;
        } else if (name == "content-type") {
            formBody = isFormContentType(value);
        }
    }
    const qsizetype bodyStart = end + headEnd.size();
    if (contentLength > maxRequestBytes - bodyStart) {
        result.status = Status::TooLarge;
        return result;
    }
    if (received.size() < bodyStart + contentLength) {
        result.status = Status::Incomplete;
        return result;
    }
    result.status = Status::Complete;
    result.request.method = requestLine.at(0).toUpper();
    result.request.target = requestLine.at(1);
    // Only a form body is of any use; any other body is read to its end and dropped.
    if (formBody) {
        result.request.body = received.mid(bodyStart, contentLength);
    }
    return result;
}

QList<std::pair<QString, std::optional<QString>>> parseQuery(const QByteArray& query) {
    return parsePairs(query, false);
}

QList<std::pair<QString, std::optional<QString>>> parseFormEncoded(const QByteArray& body) {
    return parsePairs(body, true);
}

OAuthCallback fieldsOf(const QList<std::pair<QString, std::optional<QString>>>& pairs) {
    OAuthCallback fields;
    const std::pair<const char*, std::optional<QString> OAuthCallback::*> keys[] = {
        {"state", &OAuthCallback::state},      {"code", &OAuthCallback::code},
        {"id_token", &OAuthCallback::idToken}, {"user", &OAuthCallback::userJSON},
        {"error", &OAuthCallback::error},      {"error_description", &OAuthCallback::errorDescription},
    };
    for (const auto& [key, value] : pairs) {
        for (const auto& [name, member] : keys) {
            if (key == QLatin1String(name)) {
                fields.*member = value;
            }
        }
    }
    return fields;
}

CallbackVerdict interpret(const CallbackHttpRequest& request, const CallbackProfile& profile,
                          const QString& expectedState) {
    const qsizetype question = request.target.indexOf('?');
    const QByteArray path = question < 0 ? request.target : request.target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : request.target.mid(question + 1);
    CallbackVerdict verdict;
    if (profile.path && QString::fromUtf8(path) != *profile.path) {
        verdict.httpStatus = 404;
        verdict.page = QByteArray(notFoundPage);
        return verdict;
    }
    const bool form = profile.acceptsFormPost && request.method == "POST";
    const OAuthCallback fields = fieldsOf(form ? parseFormEncoded(request.body) : parseQuery(query));
    if (!fields.isCallback()) {
        verdict.httpStatus = 404;
        verdict.page = QByteArray(notFoundPage);
        return verdict;
    }
    // The state is the secret that only this attempt and the provider know: without it the request may
    // come from any local process or web page, and must not end (or steer) the sign-in.
    if (expectedState.isEmpty() || fields.state != expectedState) {
        verdict.httpStatus = 400;
        verdict.page = QByteArray(foreignStatePage);
        return verdict;
    }
    const std::optional<QString>& credential = fields.*profile.credential;
    const bool carriesCredential = credential && !credential->isEmpty();
    verdict.page = fields.hasError() || !carriesCredential ? profile.errorPage : profile.successPage;
    verdict.callback = fields;
    return verdict;
}

} // namespace CallbackRequestParser
