#include "AppUpdater.h"

#include "AppLogger.h"
#include "RequestDeadline.h"
#include "Scheduler.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringDecoder>
#include <qcoro/qcoronetworkreply.h>

#include <chrono>
#include <limits>

#ifndef QUILLVANE_UPDATE_FEED_URL
#define QUILLVANE_UPDATE_FEED_URL ""
#endif
#ifndef QUILLVANE_UPDATE_PUBLIC_KEY
#define QUILLVANE_UPDATE_PUBLIC_KEY ""
#endif
#ifndef QUILLVANE_BUILD_NUMBER
#define QUILLVANE_BUILD_NUMBER 0
#endif
#ifndef QUILLVANE_VERSION_TEXT
#define QUILLVANE_VERSION_TEXT "0.0.0"
#endif

namespace {

const QStringList& buildPatterns() {
    static const QStringList list = {
        QStringLiteral("<(?:sparkle|ns0):version>([^<]+)</(?:sparkle|ns0):version>"),
        QStringLiteral("<version>([^<]+)</version>")};
    return list;
}

const QStringList& versionPatterns() {
    static const QStringList list = {
        QStringLiteral("<(?:sparkle|ns0):shortVersionString>([^<]+)</(?:sparkle|ns0):shortVersionString>"),
        QStringLiteral("<shortVersionString>([^<]+)</shortVersionString>")};
    return list;
}

const QStringList& releasePagePatterns() {
    static const QStringList list = {
        QStringLiteral("<link>([^<]+)</link>"),
        QStringLiteral("<(?:sparkle|ns0):releaseNotesLink>([^<]+)</(?:sparkle|ns0):releaseNotesLink>")};
    return list;
}

} // namespace

AppUpdater::Configuration AppUpdater::buildConfiguration() {
    return {QStringLiteral(QUILLVANE_UPDATE_FEED_URL), QStringLiteral(QUILLVANE_UPDATE_PUBLIC_KEY),
            qint64(QUILLVANE_BUILD_NUMBER)};
}

QString AppUpdater::versionText() {
    return QStringLiteral(QUILLVANE_VERSION_TEXT);
}

AppUpdater::AppUpdater(Configuration configuration, QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_configuration(std::move(configuration)), m_network(network) {
    m_configuration.feedURL = m_configuration.feedURL.trimmed();
    m_configuration.publicKey = m_configuration.publicKey.trimmed();
    m_configured = !m_configuration.feedURL.isEmpty() && !m_configuration.publicKey.isEmpty();
    if (!m_configured) {
        AppLogger::info(
            QStringLiteral("Update checks disabled: no update feed URL or public key configured"));
        return;
    }
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
    }
    AppLogger::info(QStringLiteral("Update checks enabled"));
    emit canCheckForUpdatesChanged();
    queueInitialBackgroundCheckIfNeeded();
}

AppUpdater::~AppUpdater() = default;

void AppUpdater::setSessionInProgress(bool inProgress) {
    if (m_sessionInProgress == inProgress) {
        return;
    }
    const bool could = canCheckForUpdates();
    m_sessionInProgress = inProgress;
    if (could != canCheckForUpdates()) {
        emit canCheckForUpdatesChanged();
    }
}

std::optional<QUrl> AppUpdater::appcastFeedURL() const {
    const QUrl url(m_configuration.feedURL, QUrl::StrictMode);
    if (m_configuration.feedURL.isEmpty() || !url.isValid() || url.scheme().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

void AppUpdater::queueInitialBackgroundCheckIfNeeded() {
    if (m_hasQueuedInitialBackgroundCheck) {
        return;
    }
    m_hasQueuedInitialBackgroundCheck = true;
    QPointer<AppUpdater> self(this);
    Scheduler::current().singleShot(std::chrono::milliseconds(0), [self] {
        if (self && self->m_configured) {
            self->checkForLaunchUpdate();
        }
    });
}

QCoro::Task<AppUpdater::Fetched> AppUpdater::fetchFeed(QUrl url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(60 * 1000);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // The feed carries nothing of the user's: it may move to another server (a download mirror), never
    // from HTTPS to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QPointer<QNetworkReply> reply = m_network->get(request);
    RequestDeadline deadline(reply, std::chrono::minutes(2));
    co_await qCoro(reply.data()).waitForFinished();
    deadline.cancel();
    Fetched fetched;
    if (!reply) {
        fetched.error = QStringLiteral("the request was abandoned");
        co_return fetched;
    }
    reply->deleteLater();
    if (deadline.expired()) {
        fetched.error = deadline.message();
        co_return fetched;
    }
    // Only a failed transfer counts; an HTTP error page is read like any other body (and holds no item).
    if (reply->error() != QNetworkReply::NoError &&
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 0) {
        fetched.error = reply->errorString();
        co_return fetched;
    }
    fetched.entry = parseLatestAppcastEntry(reply->readAll());
    co_return fetched;
}

QCoro::Task<> AppUpdater::checkForLaunchUpdate() {
    const std::optional<QUrl> url = appcastFeedURL();
    if (!url) {
        co_return;
    }
    AppLogger::info(QStringLiteral("Running direct appcast launch update probe url=") + url->toString());
    QPointer<AppUpdater> self(this);
    const Fetched fetched = co_await fetchFeed(*url);
    if (!self) {
        co_return;
    }
    if (!fetched.error.isEmpty()) {
        AppLogger::error(QStringLiteral("Launch update probe failed: ") + fetched.error);
        co_return;
    }
    if (!fetched.entry) {
        AppLogger::info(QStringLiteral("Launch update probe found no parseable appcast entry"));
        co_return;
    }
    const AppcastEntry& entry = *fetched.entry;
    const qint64 installed = installedBuildNumber();
    AppLogger::info(QStringLiteral("Launch update probe latest_version=%1 latest_build=%2 current_build=%3")
                        .arg(entry.version)
                        .arg(entry.build)
                        .arg(installed));
    if (entry.build > installed) {
        presentLaunchUpdateIfPossible(0, entry);
    } else {
        AppLogger::info(QStringLiteral("Launch update probe found no newer build"));
    }
}

void AppUpdater::presentLaunchUpdateIfPossible(int retryCount, AppcastEntry entry) {
    if (!m_configured) {
        return;
    }
    emit launchPresentationAttempted(retryCount);
    if (canCheckForUpdates()) {
        AppLogger::info(
            QStringLiteral("Presenting update offer from direct appcast probe version=%1 build=%2")
                .arg(entry.version)
                .arg(entry.build));
        present(entry, QStringLiteral("Quillvane %1 is available. You have build %2; the new build is %3.")
                           .arg(entry.version)
                           .arg(installedBuildNumber())
                           .arg(entry.build));
        return;
    }
    if (retryCount < launchCheckRetryLimit) {
        QPointer<AppUpdater> self(this);
        Scheduler::current().singleShot(std::chrono::milliseconds(launchCheckRetryMilliseconds),
                                        [self, retryCount, entry] {
                                            if (self) {
                                                self->presentLaunchUpdateIfPossible(retryCount + 1, entry);
                                            }
                                        });
        return;
    }
    AppLogger::info(QStringLiteral("Skipping launch update UI after retries version=%1 build=%2")
                        .arg(entry.version)
                        .arg(entry.build));
}

void AppUpdater::checkForUpdates() {
    if (!canCheckForUpdates()) {
        return;
    }
    runCheckOnDemand();
}

QCoro::Task<> AppUpdater::runCheckOnDemand() {
    const std::optional<QUrl> url = appcastFeedURL();
    if (!url) {
        co_return;
    }
    setSessionInProgress(true);
    QPointer<AppUpdater> self(this);
    const Fetched fetched = co_await fetchFeed(*url);
    if (!self) {
        co_return;
    }
    setSessionInProgress(false);
    if (!fetched.error.isEmpty()) {
        AppLogger::error(QStringLiteral("Update check failed: ") + fetched.error);
        present(std::nullopt, QStringLiteral("Quillvane could not reach the update feed: %1. Check your "
                                             "network connection and try again.")
                                  .arg(fetched.error));
    } else if (!fetched.entry) {
        AppLogger::info(QStringLiteral("Update check found no parseable appcast entry"));
        present(std::nullopt,
                QStringLiteral("The update feed lists no build Quillvane can read. Try again later."));
    } else if (fetched.entry->build > installedBuildNumber()) {
        present(fetched.entry,
                QStringLiteral("Quillvane %1 is available. You have build %2; the new build is %3.")
                    .arg(fetched.entry->version)
                    .arg(installedBuildNumber())
                    .arg(fetched.entry->build));
    } else {
        present(std::nullopt,
                QStringLiteral("You're up to date: Quillvane %1 (build %2) is the newest version.")
                    .arg(versionText())
                    .arg(installedBuildNumber()));
    }
}

void AppUpdater::present(const std::optional<AppcastEntry>& entry, const QString& message) {
    setSessionInProgress(true);
    QPointer<AppUpdater> self(this);
    auto done = [self] {
        if (self) {
            self->setSessionInProgress(false);
        }
    };
    if (m_presenter) {
        m_presenter(entry, message, done);
    } else {
        presentWithMessageBox(entry, message, done);
    }
}

void AppUpdater::presentWithMessageBox(const std::optional<AppcastEntry>& entry, const QString& message,
                                       std::function<void()> done) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Quillvane Update"), message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    QPushButton* open = nullptr;
    if (entry && entry->releasePage.isValid()) {
        open = box->addButton(QStringLiteral("Open Release Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    } else {
        box->addButton(QMessageBox::Ok);
    }
    const QUrl page = entry ? entry->releasePage : QUrl();
    QObject::connect(box, &QMessageBox::finished, box, [box, open, page, done] {
        if (open && box->clickedButton() == open) {
            QDesktopServices::openUrl(page);
        }
        done();
    });
    box->open();
}

std::optional<qint64> AppUpdater::parseBuildNumber(const QString& text) {
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<QString> AppUpdater::firstMatch(const QString& text, const QStringList& patterns) {
    for (const QString& pattern : patterns) {
        const QRegularExpression expression(pattern);
        if (!expression.isValid()) {
            continue;
        }
        const QRegularExpressionMatch match = expression.match(text);
        if (match.hasMatch() && match.lastCapturedIndex() >= 1 && match.capturedStart(1) >= 0) {
            return match.captured(1).trimmed();
        }
    }
    return std::nullopt;
}

std::optional<AppcastEntry> AppUpdater::parseLatestAppcastEntry(const QByteArray& feed) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(feed);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    const qsizetype start = text.indexOf(QLatin1String("<item>"));
    if (start < 0) {
        return std::nullopt;
    }
    const QLatin1String closing("</item>");
    const qsizetype end = text.indexOf(closing, start + 6);
    if (end < 0) {
        return std::nullopt;
    }
    const QString item = text.mid(start, end + closing.size() - start);
    const std::optional<QString> buildText = firstMatch(item, buildPatterns());
    if (!buildText || buildText->isEmpty()) {
        return std::nullopt;
    }
    const std::optional<qint64> build = parseBuildNumber(*buildText);
    if (!build) {
        AppLogger::info(
            QStringLiteral("Ignoring the update feed's first item: its build \"%1\" is not a whole number")
                .arg(*buildText));
        return std::nullopt;
    }
    AppcastEntry entry;
    entry.build = *build;
    entry.version = firstMatch(item, versionPatterns()).value_or(QString::number(*build));
    // Only web pages are opened from a feed.
    if (const auto link = firstMatch(item, releasePagePatterns())) {
        const QUrl url(*link, QUrl::StrictMode);
        if (url.isValid() &&
            (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))) {
            entry.releasePage = url;
        }
    }
    return entry;
}
