#pragma once

#include "OAuthCallback.h"
#include "SignInCancellation.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

class QNetworkAccessManager;

// Shows a URL in the user's browser. The app passes QDesktopServices::openUrl; the outcome is not checked.
using UrlOpener = std::function<void(const QUrl&)>;
UrlOpener systemUrlOpener();

namespace OAuthSupport {

// `length` characters drawn uniformly from the 66 unreserved characters of RFC 3986, from the system's
// cryptographically secure generator.
QString randomURLSafeString(int length);

// The RFC 7636 S256 code challenge of a verifier: unpadded base64url of SHA-256 of its UTF-8 bytes.
QString sha256Base64URL(const QString& verifier);

// The claims of a JSON Web Token, read without any check; empty when the payload cannot be read.
QJsonObject jwtClaims(const QString& token);

// An application/x-www-form-urlencoded body: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) percent-encoded, in names and values alike, pairs in the given order.
QByteArray formEncode(const QList<std::pair<QString, QString>>& fields);

// A request that produced an HTTP answer (statusCode set) or, for a non-HTTP URL, only bytes.
struct HttpAnswer {
    std::optional<int> statusCode;
    QByteArray body;
    QStringList sent; // the form's values, which a failure's text never repeats
};

// Sends one request and waits for the whole answer. A request that never produced an HTTP answer throws
// BackendTransportError; `cancel` aborts the request and throws SignInCancelled at once. A redirect is
// followed only within the request's origin; `timeout` ends a silent transfer, and the whole request has
// twice that (at least a minute) before it is stopped.
QCoro::Task<HttpAnswer> send(QNetworkAccessManager& network, QNetworkRequest request, QByteArray verb,
                             QByteArray body, std::chrono::milliseconds timeout, SignInCancelToken cancel);

// POSTs `fields` as an application/x-www-form-urlencoded body (see formEncode), as send() does.
QCoro::Task<HttpAnswer> postForm(QNetworkAccessManager& network, QUrl url,
                                 QList<std::pair<QString, QString>> fields, std::chrono::milliseconds timeout,
                                 SignInCancelToken cancel);

// Why a token endpoint's answer is not a token: "invalid response" when it was not HTTP, a short excerpt
// of the body's UTF-8 text without the form's values or anything like a credential (see
// BackendErrorExcerpt; "HTTP <status>" when it is not UTF-8) for a status outside 200–299; none for a
// success.
std::optional<QString> tokenFailure(const HttpAnswer& answer);

// The texts of the failures every provider shares. The sign-in status shows an error's text after
// "<Provider> sign-in failed: ", so none of them begins with that.
// No callback before the wait ran out.
QString timedOutMessage();
// The provider sent the browser back with an error: "<provider> refused the sign-in: " and its
// error_description, or its error code when it gave no description.
QString refusedMessage(const QString& provider, const OAuthCallback& callback);
// The listener could not bind `port`; AddressInUseError names the other program's hold on it.
QString listenFailedMessage(quint16 port, QAbstractSocket::SocketError error, const QString& reason);

} // namespace OAuthSupport
