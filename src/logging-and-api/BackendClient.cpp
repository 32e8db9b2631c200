#include "BackendClient.h"

#include "AppLogger.h"
#include "BackendErrorExcerpt.h"
#include "Clock.h"
#include "LowDelayConnections.h"
#include "MultipartFormDataBuilder.h"
#include "RequestDeadline.h"
#include "TextUtilities.h"

#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrlQuery>

#include <qcoro/qcoronetworkreply.h>

#include <cmath>

namespace {
const QString kUnknownBackendError = QStringLiteral("Unknown backend error");
const QString kRedacted = QStringLiteral("<redacted>");

QString baseText(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

QString count(qsizetype value) {
    return QString::number(value);
}

// Whether the network layer's error means the transfer itself failed (no connection, time-out, cut
// off, a proxy or protocol failure), as opposed to an HTTP status it also reports as an error.
bool isTransferFailure(QNetworkReply::NetworkError error) {
    const auto code = int(error);
    // 1..199: connection and proxy failures. (An HTTP 400 comes as ProtocolInvalidOperationError.)
    return (code > 0 && code < 200) || error == QNetworkReply::ProtocolFailure;
}

// An error page made for browsers: an HTML content type, or a body that opens like an HTML document.
bool isHtmlPage(const QByteArray& contentType, const QByteArray& body) {
    if (contentType.trimmed().toLower().startsWith("text/html")) {
        return true;
    }
    const QByteArray start = body.left(512).trimmed().toLower();
    return start.startsWith("<!doctype html") || start.startsWith("<html");
}

// A short reason for an HTML error page: the status line's phrase, else the page's title, else a
// plain description.
QString pageReason(const QString& reasonPhrase, const QString& page) {
    const QString phrase = reasonPhrase.simplified();
    if (!phrase.isEmpty()) {
        return phrase;
    }
    static const QRegularExpression title(QStringLiteral("<title[^>]*>([^<]*)</title>"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString titled = title.match(page).captured(1).simplified();
    if (!titled.isEmpty()) {
        return titled.left(80);
    }
    return QStringLiteral("the server answered with a web page");
}

const QByteArray kUtf8ByteOrderMark("\xEF\xBB\xBF");

// Once a request has gone out, its connection (and any other to the same server) sends every later write
// at once: see LowDelayConnections. A server named by a host name is matched by its port alone.
void sendWithoutDelayOnConnectionsFor(QNetworkReply* reply) {
    const QUrl url = reply->url();
    const bool secure = url.scheme() == QLatin1String("https");
    if (!secure && url.scheme() != QLatin1String("http")) {
        return;
    }
    const quint16 port = quint16(url.port(secure ? 443 : 80));
    QList<QHostAddress> addresses;
    if (const QHostAddress literal(url.host()); !literal.isNull()) {
        addresses << literal;
    } else if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        addresses << QHostAddress(QHostAddress::LocalHost) << QHostAddress(QHostAddress::LocalHostIPv6);
    }
    QObject::connect(reply, &QNetworkReply::requestSent, reply,
                     [port, addresses] { LowDelayConnections::enable(port, addresses); });
}

// The origin of a URL ("https://host:port"), which is all a log line tells of a redirect's target.
QString originOf(const QUrl& url) {
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString();
}

// Every text of a decoded answer, with the control characters removed: the answer's texts are typed or
// pasted into other programs (a terminal reads an ESC sequence as a command) and shown in the windows.
struct ReceivedTextCleaner {
    template <class T> void required(const char*, T& value) { clean(value); }
    template <class T> void optional(const char*, std::optional<T>& value) {
        if (value) {
            clean(*value);
        }
    }

    static void clean(QString& text) { text = Text::withoutControlCharacters(text); }
    template <JsonRecord T> static void clean(T& record) {
        ReceivedTextCleaner cleaner;
        record.serialize(cleaner);
    }
    template <class T> static void clean(QList<T>& values) {
        for (T& value : values) {
            clean(value);
        }
    }
    // Numbers, flags and free-form metadata are nobody's text.
    template <class T> static void clean(T&) {}
};
} // namespace

std::chrono::milliseconds BackendTimeouts::uploadDeadlineFor(qsizetype bodyBytes) const {
    const double mebibytes = double(std::max<qsizetype>(bodyBytes, 0)) / (1024.0 * 1024.0);
    return uploadDeadline +
           std::chrono::milliseconds(qint64(std::ceil(mebibytes * double(uploadDeadlinePerMiB.count()))));
}

BackendClientError::BackendClientError(Kind kind, QString text, qint64 statusCode, QString body,
                                       QString excerpt)
    : UserFacingError(std::move(text)), m_kind(kind), m_statusCode(statusCode), m_body(std::move(body)),
      m_excerpt(std::move(excerpt)) {}

BackendClientError BackendClientError::httpError(qint64 statusCode, const QString& body,
                                                 const QStringList& sent) {
    QString excerpt = BackendErrorExcerpt::of(body, sent);
    QString text = QStringLiteral("Backend error %1: %2").arg(statusCode).arg(excerpt);
    return BackendClientError(Kind::HttpError, std::move(text), statusCode, body, std::move(excerpt));
}

BackendClientError BackendClientError::httpErrorPage(qint64 statusCode, const QString& page,
                                                     const QString& reason, const QStringList& sent) {
    QString excerpt = BackendErrorExcerpt::of(reason, sent);
    QString text = QStringLiteral("Backend error %1: %2").arg(statusCode).arg(excerpt);
    return BackendClientError(Kind::HttpError, std::move(text), statusCode, page, std::move(excerpt));
}

BackendClientError BackendClientError::invalidBaseURL() {
    return BackendClientError(Kind::InvalidBaseURL, QStringLiteral("Backend URL is invalid."));
}

BackendClientError BackendClientError::invalidResponse() {
    return BackendClientError(Kind::InvalidResponse, QStringLiteral("Backend returned an invalid response."));
}

BackendClientError BackendClientError::decodingFailed() {
    return BackendClientError(Kind::DecodingFailed, QStringLiteral("Failed to decode backend response."));
}

BackendTransportError::BackendTransportError(QNetworkReply::NetworkError code, const QString& message,
                                             bool timedOut)
    : std::runtime_error(message.toStdString()), m_code(code), m_timedOut(timedOut) {}

BackendClient::BackendClient(const QUrl& baseURL, Timeouts timeouts, QObject* parent)
    : QObject(parent), m_baseURL(baseURL), m_timeouts(timeouts) {
    // A redirect elsewhere would carry the recording, the user's texts and the session token to a server
    // the user never chose (and a downgrade to plain HTTP would show them to the network).
    m_network.setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
}

void BackendClient::updateBaseURL(const QUrl& baseURL) {
    m_baseURL = baseURL;
}

qint64 BackendClient::elapsedMilliseconds(std::chrono::nanoseconds elapsed) {
    const qint64 ns = elapsed.count();
    const qint64 half = 500000;
    return ns >= 0 ? (ns + half) / 1000000 : -((-ns + half) / 1000000);
}

QUrl BackendClient::resolve(const QString& path) const {
    // An absolute path replaces the base URL's path and query; scheme, host and port stay.
    if (!m_baseURL.isValid() || m_baseURL.isRelative()) {
        throw BackendClientError::invalidBaseURL();
    }
    const QUrl url = m_baseURL.resolved(QUrl(path));
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || (web && url.host().isEmpty())) {
        throw BackendClientError::invalidBaseURL();
    }
    return url;
}

QUrl BackendClient::resolve(const QString& path, const QueryItems& items) const {
    QUrl url = resolve(path);
    QStringList pairs;
    for (const auto& [name, value] : items) {
        if (value) {
            pairs << QString::fromLatin1(QUrl::toPercentEncoding(name) + '=' +
                                         QUrl::toPercentEncoding(*value));
        }
    }
    if (!pairs.isEmpty()) {
        url.setQuery(pairs.join(QLatin1Char('&')), QUrl::StrictMode);
    }
    if (!url.isValid()) {
        throw BackendClientError::invalidBaseURL();
    }
    return url;
}

QCoro::Task<BackendClient::Answer> BackendClient::send(QNetworkRequest request, QByteArray verb,
                                                       QByteArray body, std::chrono::milliseconds deadline) {
    QPointer<QNetworkReply> reply = verb == "GET" ? m_network.get(request) : m_network.post(request, body);
    sendWithoutDelayOnConnectionsFor(reply);
    RequestDeadline timer(reply, deadline);
    co_await qCoro(reply.data()).waitForFinished();
    timer.cancel();
    if (!reply) {
        throw BackendTransportError(QNetworkReply::OperationCanceledError,
                                    QStringLiteral("The request was cancelled."), false);
    }
    reply->deleteLater();
    if (timer.expired()) {
        throw BackendTransportError(QNetworkReply::TimeoutError, timer.message(), true);
    }
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::InsecureRedirectError) {
        const QUrl target = QUrl::fromEncoded(reply->rawHeader("Location"));
        AppLogger::error(
            QStringLiteral("Refused a redirect from ") + originOf(request.url()) + QStringLiteral(" to ") +
            (target.isEmpty() ? QStringLiteral("another origin") : originOf(request.url().resolved(target))));
        throw BackendTransportError(error,
                                    QStringLiteral("The service sent the request on to another address, "
                                                   "which is not followed."),
                                    false);
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Headers may have arrived already: a body that stalled or was cut off is no answer either, and
    // neither is a failed fetch of a URL that is not HTTP (a base URL typed without its scheme).
    if (isTransferFailure(error) || (error != QNetworkReply::NoError && !status.isValid())) {
        // A transfer time-out aborts the reply, which reports it as a cancellation.
        const bool timedOut =
            error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
        throw BackendTransportError(
            error, timedOut ? QStringLiteral("The request timed out.") : reply->errorString(), timedOut);
    }
    QByteArray received = reply->readAll();
    // An error status can mask the connection closing mid-body (the reply then reports the status):
    // fewer bytes than the declared length is a cut-off answer whatever the reply says.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
        received.size() < declared.toLongLong()) {
        throw BackendTransportError(QNetworkReply::RemoteHostClosedError,
                                    QStringLiteral("The connection closed before the whole answer arrived."),
                                    false);
    }
    if (!status.isValid()) {
        co_return Answer{std::nullopt, std::move(received), {}, {}};
    }
    co_return Answer{status.toInt(), std::move(received),
                     reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                     reply->rawHeader("Content-Type")};
}

template <class Response>
Response BackendClient::decodeResponse(const Answer& answer, const QStringList& sent) const {
    if (!answer.statusCode) {
        throw BackendClientError::invalidResponse();
    }
    const int status = *answer.statusCode;
    if (status >= 200 && status <= 299) {
        try {
            const bool marked = answer.body.startsWith(kUtf8ByteOrderMark);
            Response response =
                fromJsonText<Response>(marked ? answer.body.mid(kUtf8ByteOrderMark.size()) : answer.body);
            ReceivedTextCleaner::clean(response);
            return response;
        } catch (const DecodingError& error) {
            AppLogger::error(QStringLiteral("Response decode failed: ") + error.description());
            throw BackendClientError::decodingFailed();
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString message = utf8.decode(answer.body);
    if (utf8.hasError()) {
        message = kUnknownBackendError;
    }
    if (isHtmlPage(answer.contentType, answer.body)) {
        // A page for browsers (a proxy's 502, a captive portal) says nothing a user can read in a
        // sentence: show its status and a short reason; the page stays in the error for callers.
        const auto error = BackendClientError::httpErrorPage(status, message,
                                                             pageReason(answer.reasonPhrase, message), sent);
        AppLogger::error(QStringLiteral("HTTP %1 response: %2 (HTML page of %3 bytes)")
                             .arg(status)
                             .arg(error.excerpt())
                             .arg(answer.body.size()));
        throw error;
    }
    const auto error = BackendClientError::httpError(status, message, sent);
    AppLogger::error(QStringLiteral("HTTP %1 response: %2").arg(status).arg(error.excerpt()));
    throw error;
}

void BackendClient::logCompletion(const QString& method, const QString& path,
                                  std::chrono::nanoseconds start) const {
    const qint64 ms = elapsedMilliseconds(Clock::current().monotonic() - start);
    AppLogger::info(method + QLatin1Char(' ') + path + QStringLiteral(" completed in ") +
                    QString::number(ms) + QStringLiteral("ms"));
}

template <class Response, class Request>
QCoro::Task<Response> BackendClient::postJSON(QString path, Request body) {
    const QUrl url = resolve(path);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(static_cast<int>(m_timeouts.json.count()));
    const QByteArray bytes = toJsonText(body);
    const auto start = Clock::current().monotonic();
    const Answer answer = co_await send(request, "POST", bytes, m_timeouts.jsonDeadline);
    Response response = decodeResponse<Response>(answer, BackendErrorExcerpt::jsonStrings(bytes));
    logCompletion(QStringLiteral("POST"), path, start);
    emit requestSucceeded();
    co_return response;
}

template <class Response> QCoro::Task<Response> BackendClient::get(QString path, QUrl url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(m_timeouts.get.count()));
    QStringList sent;
    for (const auto& [name, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        sent << value << QString::fromLatin1(QUrl::toPercentEncoding(value)); // echoed as read, or as sent
    }
    const auto start = Clock::current().monotonic();
    const Answer answer = co_await send(request, "GET", {}, m_timeouts.getDeadline);
    Response response = decodeResponse<Response>(answer, sent);
    logCompletion(QStringLiteral("GET"), path, start);
    emit requestSucceeded();
    co_return response;
}

template <class Response>
QCoro::Task<Response> BackendClient::upload(QString path, QByteArray audioData, QString fileName,
                                            QString mimeType, QMap<QString, QString> formFields) {
    AppLogger::info(QStringLiteral("POST ") + path + QStringLiteral(" -> ") + baseText(m_baseURL) +
                    QStringLiteral(" file=") + fileName + QStringLiteral(" bytes=") +
                    count(audioData.size()));
    const QUrl url = resolve(path);
    const auto built = MultipartFormDataBuilder::makeRequestBody(formFields, QStringLiteral("audio"),
                                                                 fileName, mimeType, audioData);
    audioData.clear(); // the body holds its own copy; drop ours before the upload
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, built.contentType);
    request.setTransferTimeout(static_cast<int>(m_timeouts.upload.count()));
    QStringList sent = formFields.values();
    sent << fileName;
    const auto start = Clock::current().monotonic();
    const Answer answer =
        co_await send(request, "POST", built.body, m_timeouts.uploadDeadlineFor(built.body.size()));
    Response response = decodeResponse<Response>(answer, sent);
    logCompletion(QStringLiteral("POST"), path, start);
    emit requestSucceeded();
    co_return response;
}

QCoro::Task<SessionResponseDTO> BackendClient::establishSession(SessionRequest request) {
    AppLogger::info(QStringLiteral("POST /api/session -> ") + baseText(m_baseURL));
    co_return co_await postJSON<SessionResponseDTO>(QStringLiteral("/api/session"), std::move(request));
}

QCoro::Task<FormatResponseDTO> BackendClient::formatEmail(FormatEmailRequestDTO request) {
    AppLogger::info(QStringLiteral("POST /api/format/email -> ") + baseText(m_baseURL) +
                    QStringLiteral(" chars=") + count(Text::graphemeCount(request.text)));
    co_return co_await postJSON<FormatResponseDTO>(QStringLiteral("/api/format/email"), std::move(request));
}

QCoro::Task<FormatResponseDTO> BackendClient::formatGeneric(FormatGenericRequestDTO request) {
    AppLogger::info(QStringLiteral("POST /api/format/generic -> ") + baseText(m_baseURL) +
                    QStringLiteral(" instruction_chars=") + count(Text::graphemeCount(request.text)) +
                    QStringLiteral(" selected_chars=") +
                    count(request.selected_text ? Text::graphemeCount(*request.selected_text) : 0) +
                    QStringLiteral(" app=") + request.app_name.value_or(QStringLiteral("unknown")));
    co_return co_await postJSON<FormatResponseDTO>(QStringLiteral("/api/format/generic"), std::move(request));
}

QCoro::Task<TitleResponseDTO> BackendClient::generateTitle(TitleRequestDTO request) {
    co_return co_await postJSON<TitleResponseDTO>(QStringLiteral("/api/generate_title"), std::move(request));
}

QCoro::Task<ConfigResponseDTO> BackendClient::updateUserConfig(ConfigEnvelopeDTO envelope) {
    AppLogger::info(QStringLiteral("POST /api/user/config -> ") + baseText(m_baseURL));
    co_return co_await postJSON<ConfigResponseDTO>(QStringLiteral("/api/user/config"), std::move(envelope));
}

QCoro::Task<ConfigResponseDTO> BackendClient::getUserConfig(std::optional<QString> sessionToken,
                                                            std::optional<QString> idToken) {
    const QString path = QStringLiteral("/api/user/config");
    const QUrl url = resolve(
        path, {{QStringLiteral("session_token"), sessionToken}, {QStringLiteral("id_token"), idToken}});
    // The tokens are credentials: the log shows which were sent, never their values.
    const QUrl shown =
        resolve(path, {{QStringLiteral("session_token"), sessionToken ? kRedacted : sessionToken},
                       {QStringLiteral("id_token"), idToken ? kRedacted : idToken}});
    AppLogger::info(QStringLiteral("GET /api/user/config -> ") +
                    QUrl::fromPercentEncoding(shown.toEncoded()));
    co_return co_await get<ConfigResponseDTO>(path, url);
}

QCoro::Task<TutorialsResponseDTO> BackendClient::getTutorials() {
    const QString path = QStringLiteral("/api/tutorials");
    co_return co_await get<TutorialsResponseDTO>(path, resolve(path));
}

QCoro::Task<AppleAuthStartResponseDTO> BackendClient::createAppleAuthStart(qint64 returnPort) {
    const QString path = QStringLiteral("/api/auth/apple/start");
    const QUrl url = resolve(path, {{QStringLiteral("return_port"), QString::number(returnPort)}});
    co_return co_await get<AppleAuthStartResponseDTO>(path, url);
}

QCoro::Task<TranscriptionResponseDTO> BackendClient::transcribeAudio(QByteArray audioData, QString fileName,
                                                                     QString mimeType,
                                                                     QMap<QString, QString> formFields) {
    co_return co_await upload<TranscriptionResponseDTO>(QStringLiteral("/api/transcription"),
                                                        std::move(audioData), std::move(fileName),
                                                        std::move(mimeType), std::move(formFields));
}

QCoro::Task<CombinedTranscriptionResponseDTO>
BackendClient::transcribeAndRefineAudio(QByteArray audioData, QString fileName, QString mimeType,
                                        QMap<QString, QString> formFields) {
    co_return co_await upload<CombinedTranscriptionResponseDTO>(QStringLiteral("/api/transcription/refine"),
                                                                std::move(audioData), std::move(fileName),
                                                                std::move(mimeType), std::move(formFields));
}
