#pragma once

#include "APIModels.h"
#include "UserFacingError.h"

#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// Every way a backend answer can be unusable. The message is the sentence shown to the user.
class BackendClientError : public UserFacingError {
public:
    enum class Kind { HttpError, InvalidBaseURL, InvalidResponse, DecodingFailed };

    // `sent`: the text values the request carried, which the sentence never repeats (see excerpt()).
    static BackendClientError httpError(qint64 statusCode, const QString& body, const QStringList& sent = {});
    // An answer whose body is an HTML page (a proxy's or a web server's error page): the sentence shows
    // the status and `reason` instead of the page, while body() keeps the page for callers.
    static BackendClientError httpErrorPage(qint64 statusCode, const QString& page, const QString& reason,
                                            const QStringList& sent = {});
    static BackendClientError invalidBaseURL();
    static BackendClientError invalidResponse();
    static BackendClientError decodingFailed();

    Kind kind() const { return m_kind; }
    // For HttpError: the HTTP status and the backend's raw body text ("Unknown backend error" when the
    // body is not UTF-8), which callers search for phrases. The body may repeat what the request carried
    // (credentials, the user's texts): it is never logged or shown; excerpt() is what may be.
    qint64 statusCode() const { return m_statusCode; }
    const QString& body() const { return m_body; }
    // For HttpError: a short excerpt of the body with whatever the request carried and anything that
    // looks like a credential redacted, free of control characters (see BackendErrorExcerpt); the
    // sentence shows it after the status.
    const QString& excerpt() const { return m_excerpt; }

private:
    BackendClientError(Kind kind, QString text, qint64 statusCode = 0, QString body = {},
                       QString excerpt = {});

    Kind m_kind;
    qint64 m_statusCode;
    QString m_body;
    QString m_excerpt;
};

// The request never produced a whole answer: no connection, a time-out, a TLS failure, a cancelled
// transfer, an answer cut off or stalled after its headers, a scheme the network layer cannot fetch, a
// redirect to another server (InsecureRedirectError: never followed). Passed on to callers as the network
// layer reported it; timedOut() where a time-out or the request's deadline ended it.
class BackendTransportError : public std::runtime_error {
public:
    BackendTransportError(QNetworkReply::NetworkError code, const QString& message, bool timedOut);
    QNetworkReply::NetworkError code() const { return m_code; }
    bool timedOut() const { return m_timedOut; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    QNetworkReply::NetworkError m_code;
    bool m_timedOut;
};

// Transfer time-outs end a request after so long without a byte moving; deadlines end it so long after
// it was sent whatever is still moving (an answer trickled byte by byte would otherwise never end).
struct BackendTimeouts {
    std::chrono::milliseconds json{20000};   // every JSON POST
    std::chrono::milliseconds upload{45000}; // every multipart upload
    std::chrono::milliseconds get{60000};    // every GET

    std::chrono::milliseconds jsonDeadline{60000};
    std::chrono::milliseconds getDeadline{90000};
    // An upload's deadline grows with its size, so that a long recording on a slow line still goes out.
    std::chrono::milliseconds uploadDeadline{120000};
    std::chrono::milliseconds uploadDeadlinePerMiB{15000};

    std::chrono::milliseconds uploadDeadlineFor(qsizetype bodyBytes) const;
};

// The one HTTP client for the backend. Lives on the main thread; any number of requests may be in flight.
// Tokens travel in the request records and query items; the client adds no header but Content-Type on
// POSTs, never retries, and logs a request line (most endpoints) and a completion line. It follows a
// redirect only within the backend's origin (same scheme, host and port), gives every request a deadline
// on the Scheduler, logs and shows only a redacted excerpt of an error answer, and removes control
// characters from every text of a decoded answer before anyone inserts or shows it.
class BackendClient : public QObject {
    Q_OBJECT

public:
    using Timeouts = BackendTimeouts;

    explicit BackendClient(const QUrl& baseURL, Timeouts timeouts = {}, QObject* parent = nullptr);

    // Requests that already resolved their URL keep it; every later request uses the new base.
    void updateBaseURL(const QUrl& baseURL);
    QUrl baseURL() const { return m_baseURL; }
    const Timeouts& timeouts() const { return m_timeouts; }

    QCoro::Task<SessionResponseDTO> establishSession(SessionRequest request);
    QCoro::Task<FormatResponseDTO> formatEmail(FormatEmailRequestDTO request);
    QCoro::Task<FormatResponseDTO> formatGeneric(FormatGenericRequestDTO request);
    QCoro::Task<TitleResponseDTO> generateTitle(TitleRequestDTO request);
    QCoro::Task<ConfigResponseDTO> updateUserConfig(ConfigEnvelopeDTO envelope);
    QCoro::Task<ConfigResponseDTO> getUserConfig(std::optional<QString> sessionToken,
                                                 std::optional<QString> idToken);
    QCoro::Task<TutorialsResponseDTO> getTutorials();
    QCoro::Task<AppleAuthStartResponseDTO> createAppleAuthStart(qint64 returnPort);
    QCoro::Task<TranscriptionResponseDTO> transcribeAudio(QByteArray audioData, QString fileName,
                                                          QString mimeType,
                                                          QMap<QString, QString> formFields);
    QCoro::Task<CombinedTranscriptionResponseDTO> transcribeAndRefineAudio(QByteArray audioData,
                                                                           QString fileName, QString mimeType,
                                                                           QMap<QString, QString> formFields);

    // Whole milliseconds of a monotonic duration, halves rounded away from zero.
    static qint64 elapsedMilliseconds(std::chrono::nanoseconds elapsed);

signals:
    // A request got a 2xx answer that decoded, whichever endpoint it went to: the backend is reachable.
    // Emitted before the caller's coroutine resumes with the answer.
    void requestSucceeded();

private:
    struct Answer {
        std::optional<int> statusCode; // absent when the answer was not HTTP
        QByteArray body;
        QString reasonPhrase; // from the status line; may be empty
        QByteArray contentType;
    };
    using QueryItems = QList<std::pair<QString, std::optional<QString>>>;

    QUrl resolve(const QString& path) const;
    QUrl resolve(const QString& path, const QueryItems& items) const;
    QCoro::Task<Answer> send(QNetworkRequest request, QByteArray verb, QByteArray body,
                             std::chrono::milliseconds deadline);
    // `sent`: the text values the request carried, kept out of what is logged and shown of an error.
    template <class Response> Response decodeResponse(const Answer& answer, const QStringList& sent) const;
    template <class Response, class Request> QCoro::Task<Response> postJSON(QString path, Request body);
    template <class Response> QCoro::Task<Response> get(QString path, QUrl url);
    template <class Response>
    QCoro::Task<Response> upload(QString path, QByteArray audioData, QString fileName, QString mimeType,
                                 QMap<QString, QString> formFields);
    void logCompletion(const QString& method, const QString& path, std::chrono::nanoseconds start) const;

    QNetworkAccessManager m_network;
    QUrl m_baseURL;
    Timeouts m_timeouts;
};
