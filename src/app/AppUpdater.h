#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class QNetworkAccessManager;

// One item of the update feed: the version shown to people, the integer build it is compared by, and the
// page that describes it (the item's link; empty when it names none).
struct AppcastEntry {
    QString version;
    qint64 build = 0;
    QUrl releasePage;

    friend bool operator==(const AppcastEntry&, const AppcastEntry&) = default;
};

// Update checks against the feed (appcast) named by the build: configured only when the build was given a
// feed URL and a public key (both empty by default: then no request is ever made). Once per launch it
// fetches the feed, reads the first item's build and, when it is newer than ours, offers the update in a
// message box that opens the release page, retrying every 500 ms (8 times) while another update dialog
// or check is in progress. "Check for Updates…" runs the same check on demand and also says when there is
// nothing new. Main thread only.
class AppUpdater final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    static constexpr int launchCheckRetryLimit = 8;
    static constexpr int launchCheckRetryMilliseconds = 500;

    struct Configuration {
        QString feedURL;
        QString publicKey;
        qint64 buildNumber = 0;
    };
    // What this build was configured with (CMake: QUILLVANE_UPDATE_FEED_URL, QUILLVANE_UPDATE_PUBLIC_KEY,
    // QUILLVANE_BUILD_NUMBER).
    static Configuration buildConfiguration();
    static QString versionText();

    // Shows an offer (or, for a check on demand, a "nothing new"/failure note) and calls `done` once it
    // is dismissed. `entry` is none for the notes; `message` says what happened.
    using Presenter = std::function<void(const std::optional<AppcastEntry>& entry, const QString& message,
                                         std::function<void()> done)>;

    explicit AppUpdater(Configuration configuration = buildConfiguration(),
                        QNetworkAccessManager* network = nullptr, QObject* parent = nullptr);
    ~AppUpdater() override;

    // Present when the build carries a feed URL and a public key.
    bool isConfigured() const { return m_configured; }
    bool canCheckForUpdates() const { return m_configured && !m_sessionInProgress; }
    // An update dialog is open or a check on demand runs.
    bool sessionInProgress() const { return m_sessionInProgress; }
    void setSessionInProgress(bool inProgress);

    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

    // The check on demand; does nothing when not configured or while a session is in progress.
    void checkForUpdates();
    // Queues the launch probe once (it runs on a later turn of the event loop).
    void queueInitialBackgroundCheckIfNeeded();
    QCoro::Task<> checkForLaunchUpdate();
    void presentLaunchUpdateIfPossible(int retryCount, AppcastEntry entry);

    std::optional<QUrl> appcastFeedURL() const;
    qint64 installedBuildNumber() const { return m_configuration.buildNumber; }

    static std::optional<AppcastEntry> parseLatestAppcastEntry(const QByteArray& feed);
    static std::optional<QString> firstMatch(const QString& text, const QStringList& patterns);
    // "+12", "-3", "42": an optional sign then digits only; anything else (dotted versions, blanks,
    // numbers out of range) gives none.
    static std::optional<qint64> parseBuildNumber(const QString& text);

signals:
    void canCheckForUpdatesChanged();
    // Every attempt to present the launch offer (0 = the first, then each retry).
    void launchPresentationAttempted(int retryCount);

private:
    struct Fetched {
        std::optional<AppcastEntry> entry;
        QString error; // set when the feed could not be fetched
    };
    QCoro::Task<Fetched> fetchFeed(QUrl url);
    QCoro::Task<> runCheckOnDemand();
    void present(const std::optional<AppcastEntry>& entry, const QString& message);
    static void presentWithMessageBox(const std::optional<AppcastEntry>& entry, const QString& message,
                                      std::function<void()> done);

    Configuration m_configuration;
    QNetworkAccessManager* m_network;
    bool m_ownsNetwork = false;
    bool m_configured = false;
    bool m_sessionInProgress = false;
    bool m_hasQueuedInitialBackgroundCheck = false;
    Presenter m_presenter;
};
