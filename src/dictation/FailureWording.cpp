#include "FailureWording.h"

#include "BackendClient.h"
#include "TextUtilities.h"
#include "UserFacingError.h"

namespace FailureWording {

namespace {

const QString retryNow = QStringLiteral("Your recording is kept: press Retry Last Submission on Home.");
const QString retryLater =
    QStringLiteral("Your recording is kept: press Retry Last Submission on Home in a moment.");
const QString retryOnline = QStringLiteral(
    "Check your internet connection, then press Retry Last Submission on Home. Your recording is kept.");

// The backend's own words, when they are short plain text worth showing.
QString backendWords(const QString& body) {
    const QString text = Text::trimmed(body).simplified();
    if (text.isEmpty() || text.size() > 160 || text.startsWith(QLatin1Char('<')) ||
        text.startsWith(QLatin1Char('{'))) {
        return {};
    }
    return text;
}

QString forHttpStatus(const BackendClientError& error) {
    const qint64 status = error.statusCode();
    const QString words = backendWords(error.excerpt());
    const QString detail = words.isEmpty() ? QString() : QStringLiteral(": ") + words;
    if (status >= 500) {
        return QStringLiteral("The Quillvane service had a problem (HTTP %1%2). ").arg(status).arg(detail) +
               retryLater;
    }
    if (status == 429) {
        return QStringLiteral("The Quillvane service is busy (HTTP 429). ") + retryLater;
    }
    return QStringLiteral("The Quillvane service refused the request (HTTP %1%2). ").arg(status).arg(detail) +
           retryNow;
}

} // namespace

QString describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BackendTransportError& e) {
        if (e.timedOut()) {
            return QStringLiteral("The Quillvane service did not answer in time. ") + retryLater;
        }
        if (e.code() == QNetworkReply::InsecureRedirectError) {
            return QStringLiteral("The Quillvane service address sent the request on to another server, and "
                                  "Quillvane sends your recording nowhere else. Check the service address in "
                                  "the settings, then press Retry Last Submission on Home. Your recording is "
                                  "kept.");
        }
        return QStringLiteral("Quillvane could not reach its service. ") + retryOnline;
    } catch (const BackendClientError& e) {
        switch (e.kind()) {
        case BackendClientError::Kind::HttpError:
            return forHttpStatus(e);
        case BackendClientError::Kind::InvalidBaseURL:
            return QStringLiteral("The Quillvane service address in the settings is not valid. Correct it, "
                                  "then press Retry Last Submission on Home.");
        case BackendClientError::Kind::InvalidResponse:
        case BackendClientError::Kind::DecodingFailed:
            return QStringLiteral("The Quillvane service sent an answer that could not be read. ") +
                   retryLater;
        }
    } catch (const UserFacingError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("Something went wrong.");
}

} // namespace FailureWording
