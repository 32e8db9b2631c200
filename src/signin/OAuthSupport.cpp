#include "OAuthSupport.h"

#include "BackendClient.h"
#include "BackendErrorExcerpt.h"
#include "RequestDeadline.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QStringDecoder>

UrlOpener systemUrlOpener() {
    return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

namespace OAuthSupport {

QString randomURLSafeString(int length) {
    static const QLatin1String alphabet("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~");
    QString out;
    out.reserve(std::max(length, 0));
    for (int i = 0; i < length; ++i) {
        // bounded() rejects the biased low range, so every character is equally likely.
        out.append(alphabet.at(QRandomGenerator::system()->bounded(alphabet.size())));
    }
    return out;
}

QString sha256Base64URL(const QString& verifier) {
    const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject jwtClaims(const QString& token) {
    QStringList pieces = token.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.size() < 2) {
        return {};
    }
    QString payload = pieces.at(1);
    const qsizetype padding = (4 - payload.size() % 4) % 4;
    payload.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    payload.append(QString(padding, QLatin1Char('=')));
    const auto decoded =
        QByteArray::fromBase64Encoding(payload.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || padding == 3) {
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    return document.isObject() ? document.object() : QJsonObject();
}

QByteArray formEncode(const QList<std::pair<QString, QString>>& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty()) {
            body += '&';
        }
        body += name.toUtf8().toPercentEncoding() + '=' + value.toUtf8().toPercentEncoding();
    }
    return body;
}

QCoro::Task<HttpAnswer> send(QNetworkAccessManager& network, QNetworkRequest request, QByteArray verb,
                             QByteArray body, std::chrono::milliseconds timeout, SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    request.setTransferTimeout(int(timeout.count()));
    // A redirect elsewhere would take the authorization code, the verifier or the access token along.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    QPointer<QNetworkReply> reply = network.sendCustomRequest(request, verb, body);
    RequestDeadline deadline(reply,
                             std::max<std::chrono::milliseconds>(2 * timeout, std::chrono::minutes(1)));
    PendingValue<bool> finished;
    QObject::connect(reply.data(), &QNetworkReply::finished, reply.data(),
                     [finished]() mutable { finished.resolve(true); });
    const auto subscription = cancel.onCancel([reply, finished]() mutable {
        finished.fail(std::make_exception_ptr(SignInCancelled()));
        if (reply) {
            reply->disconnect();
            reply->abort();
            reply->deleteLater();
        }
    });
    co_await finished;
    deadline.cancel();
    if (!reply) {
        throw BackendTransportError(QNetworkReply::OperationCanceledError,
                                    QStringLiteral("The request was cancelled."), false);
    }
    reply->deleteLater();
    if (deadline.expired()) {
        throw BackendTransportError(QNetworkReply::TimeoutError, deadline.message(), true);
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        co_return HttpAnswer{status.toInt(), reply->readAll()};
    }
    if (reply->error() != QNetworkReply::NoError) {
        const bool timedOut = reply->error() == QNetworkReply::OperationCanceledError ||
                              reply->error() == QNetworkReply::TimeoutError;
        throw BackendTransportError(
            reply->error(), timedOut ? QStringLiteral("The request timed out.") : reply->errorString(),
            timedOut);
    }
    co_return HttpAnswer{std::nullopt, reply->readAll()};
}

QCoro::Task<HttpAnswer> postForm(QNetworkAccessManager& network, QUrl url,
                                 QList<std::pair<QString, QString>> fields, std::chrono::milliseconds timeout,
                                 SignInCancelToken cancel) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    HttpAnswer answer = co_await send(network, request, "POST", formEncode(fields), timeout, cancel);
    for (const auto& [name, value] : fields) {
        answer.sent << value;
    }
    co_return answer;
}

std::optional<QString> tokenFailure(const HttpAnswer& answer) {
    if (!answer.statusCode) {
        return QStringLiteral("invalid response");
    }
    if (*answer.statusCode >= 200 && *answer.statusCode <= 299) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(answer.body);
    if (decoder.hasError()) {
        return QStringLiteral("HTTP ") + QString::number(*answer.statusCode);
    }
    return BackendErrorExcerpt::of(text, answer.sent);
}

QString timedOutMessage() {
    return QStringLiteral("It took too long to hear back from the browser. Try again.");
}

QString refusedMessage(const QString& provider, const OAuthCallback& callback) {
    const QString description = callback.errorDescription.value_or(QString()).trimmed();
    const QString reason = description.isEmpty() ? callback.error.value_or(QString()) : description;
    return provider + QStringLiteral(" refused the sign-in: ") + reason;
}

QString listenFailedMessage(quint16 port, QAbstractSocket::SocketError error, const QString& reason) {
    if (error == QAbstractSocket::AddressInUseError) {
        return QStringLiteral("Port %1 is already used by another program, so Quillvane cannot receive the "
                              "browser's answer. Close that program and try again.")
            .arg(port);
    }
    return QStringLiteral("Quillvane could not listen on port %1 for the browser's answer: %2")
        .arg(port)
        .arg(reason);
}

} // namespace OAuthSupport
