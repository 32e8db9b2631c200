// Cloud configuration sync against the stand-in backend's stored configuration: what a pull merges and
// reports, what a push sends, the one-second debounce on a manual scheduler, the signed-out path, a push
// that must not overwrite the cloud before a pull has succeeded, edits and deletions made while the
// backend was unreachable (kept through the next pull and across a restart), and when a failed sync is
// retried (and when not: a rotated session token is no reason to pull).
#include "../stores/session/FakeSecretBackend.h"
#include "AppSettings.h"
#include "BackendClient.h"
#include "ConfigSyncCoordinator.h"
#include "KnowledgeBaseStore.h"
#include "ManualScheduler.h"
#include "PendingConfigEdits.h"
#include "PromptSettingsStore.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "StandinBackend.h"
#include "UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// Every store and service the sync touches, on the files of one folder, talking to one stand-in. A second
// rig over the same folder is the same computer after a restart.
struct SyncRig {
    SyncRig(const QString& baseUrl, const QString& folder)
        : defaults(QDir(folder).filePath(QStringLiteral("settings.json"))), appSettings(defaults),
          promptSettings(defaults), knowledgeBase(folder), client(QUrl(baseUrl)),
          secrets(std::make_shared<FakeSecretBackend>()), secureStore(secrets), session(client, secureStore),
          scheduler(clock),
          sync(client, appSettings, session, promptSettings, knowledgeBase, scheduler, folder) {
        knowledgeBase.onChange = [this] { sync.schedulePush(); };
        promptSettings.onChange = [this] { sync.schedulePush(); };
        appSettings.onChange = [this] { sync.schedulePush(); };
    }

    // Signs in with a session the stand-in knows.
    void signIn(const QString& token) {
        secrets->items[{SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount}] =
            token.toUtf8();
        runTask(session.bootstrapFromSecureStore());
        QCOMPARE(session.activeSessionToken(), std::optional<QString>(token));
    }

    QStringList terms() const {
        QStringList list;
        for (const DictionaryTerm& term : knowledgeBase.dictionaryTerms()) {
            list << term.term;
        }
        return list;
    }

    QUuid termId(const QString& text) const {
        for (const DictionaryTerm& term : knowledgeBase.dictionaryTerms()) {
            if (term.term == text) {
                return term.id;
            }
        }
        return {};
    }

    QUuid snippetId(const QString& title) const {
        for (const KnowledgeSnippet& snippet : knowledgeBase.snippets()) {
            if (snippet.title == title) {
                return snippet.id;
            }
        }
        return {};
    }

    UserDefaults defaults;
    AppSettings appSettings;
    PromptSettingsStore promptSettings;
    KnowledgeBaseStore knowledgeBase;
    BackendClient client;
    std::shared_ptr<FakeSecretBackend> secrets;
    SecureStore secureStore;
    SessionCoordinator session;
    ManualClock clock;
    ManualScheduler scheduler;
    ConfigSyncCoordinator sync;
};

DictionaryEntryDTO entry(const QString& term) {
    DictionaryEntryDTO e;
    e.term = term;
    return e;
}

QStringList termTexts(const QList<DictionaryEntryDTO>& entries) {
    QStringList texts;
    for (const DictionaryEntryDTO& e : entries) {
        texts << e.term;
    }
    texts.sort();
    return texts;
}

const std::string kConfigPath = "/api/user/config";

SnippetDTO snippet(const QString& title, const QString& value) {
    SnippetDTO s;
    s.title = title;
    s.value = value;
    return s;
}

QStringList snippetTitles(const QList<SnippetDTO>& snippets) {
    QStringList titles;
    for (const SnippetDTO& s : snippets) {
        titles << s.title;
    }
    titles.sort();
    return titles;
}

QStringList localSnippetTitles(const KnowledgeBaseStore& store) {
    QStringList titles;
    for (const KnowledgeSnippet& s : store.snippets()) {
        titles << s.title;
    }
    titles.sort();
    return titles;
}

} // namespace

class TestConfigSync : public QObject {
    Q_OBJECT

    standin::StandinBackend m_backend;
    QString m_base;
    QString m_token;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SyncRig> m_rig;

    // The same computer started again: new stores and a new coordinator over the same files.
    void restart() {
        m_rig.reset();
        m_rig = std::make_unique<SyncRig>(m_base, m_dir->path());
    }

    int configRequests(const std::string& method) const {
        int count = 0;
        for (const auto& request : m_backend.received()) {
            if (request.path == "/api/user/config" && request.method == method) {
                ++count;
            }
        }
        return count;
    }

    // Stores `config` as the cloud copy of the session, as another device would.
    void seedCloud(const CloudConfigDTO& config) {
        ConfigEnvelopeDTO envelope;
        envelope.session_token = m_token;
        envelope.config = config;
        BackendClient otherDevice{QUrl(m_base)};
        runTask(otherDevice.updateUserConfig(envelope));
    }

    CloudConfigDTO cloudCopy() {
        BackendClient otherDevice{QUrl(m_base)};
        return runTask(otherDevice.getUserConfig(m_token, std::nullopt)).config;
    }

    // An earlier run synced: the cloud and this computer agree on the threshold 200, the prompt "From the
    // cloud", the terms Kubernetes and Quillvane and the snippets Address and Signature. Then the computer
    // starts again, not yet signed in.
    void syncedInAnEarlierRun() {
        CloudConfigDTO config;
        config.settings = JSONValue::Object{
            {QStringLiteral("silence_threshold"), JSONValue::number(200)},
            {QStringLiteral("custom_prompt"), JSONValue::string(QStringLiteral("From the cloud"))}};
        config.snippets = QList<SnippetDTO>{snippet(QStringLiteral("Address"), QStringLiteral("1 Main St")),
                                            snippet(QStringLiteral("Signature"), QStringLiteral("Ann"))};
        config.dictionary = QList<DictionaryEntryDTO>{entry(QStringLiteral("Quillvane")),
                                                      entry(QStringLiteral("Kubernetes"))};
        seedCloud(config);
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        QCOMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUpdatedText);
        QCOMPARE(m_rig->appSettings.silenceThreshold(), 200);
        QVERIFY(m_rig->sync.pendingEdits().isEmpty());
        restart();
        m_backend.reset();
    }

    // The stand-in cannot give the configuration: a 503 for the next request, or the endpoint missing
    // until reset().
    void failConfigRequests(const QString& how) {
        if (how == QLatin1String("503")) {
            m_backend.scriptNext(kConfigPath, {503, R"({"detail":"maintenance"})"});
        } else {
            m_backend.setMissing(kConfigPath, 404);
        }
    }

    void makeEdit(const QString& edit) {
        if (edit == QLatin1String("threshold")) {
            m_rig->appSettings.setSilenceThreshold(350);
        } else if (edit == QLatin1String("prompt")) {
            PromptSettings prompt = m_rig->promptSettings.settings();
            prompt.customPrompt = QStringLiteral("Mine");
            m_rig->promptSettings.setSettings(prompt);
        } else if (edit == QLatin1String("delete term")) {
            m_rig->knowledgeBase.deleteDictionaryTerm(m_rig->termId(QStringLiteral("Kubernetes")));
        } else if (edit == QLatin1String("delete snippet")) {
            m_rig->knowledgeBase.deleteSnippet(m_rig->snippetId(QStringLiteral("Address")));
        } else if (edit == QLatin1String("rename snippet")) {
            m_rig->knowledgeBase.updateSnippet(m_rig->snippetId(QStringLiteral("Address")),
                                               QStringLiteral("Home address"), QStringLiteral("1 Main St"));
        } else {
            QFAIL("unknown edit");
        }
    }

    // This computer and the cloud both hold these values.
    void expectEverywhere(int threshold, const QString& prompt, const QStringList& terms,
                          const QStringList& snippets) {
        QCOMPARE(m_rig->appSettings.silenceThreshold(), threshold);
        QCOMPARE(m_rig->promptSettings.settings().customPrompt, prompt);
        QCOMPARE(m_rig->terms(), terms);
        QCOMPARE(localSnippetTitles(m_rig->knowledgeBase), snippets);
        const CloudConfigDTO stored = cloudCopy();
        QVERIFY(stored.settings);
        QCOMPARE(stored.settings->at(QStringLiteral("silence_threshold")).numberValue(), double(threshold));
        QCOMPARE(stored.settings->at(QStringLiteral("custom_prompt")).stringValue(), prompt);
        QCOMPARE(termTexts(stored.dictionary.value_or(QList<DictionaryEntryDTO>{})), terms);
        QCOMPARE(snippetTitles(stored.snippets.value_or(QList<SnippetDTO>{})), snippets);
    }

private slots:
    void initTestCase() {
        m_backend.start();
        m_base = QString::fromStdString(m_backend.baseUrl());
    }

    void init() {
        m_token = QString::fromStdString(m_backend.openSession());
        m_dir = std::make_unique<QTemporaryDir>();
        m_rig = std::make_unique<SyncRig>(m_base, m_dir->path());
        m_backend.reset();
    }

    void cleanup() {
        m_rig.reset();
        m_dir.reset();
        m_backend.reset();
    }

    void pullReportsWhatTheCloudHeld_data() {
        QTest::addColumn<QString>("cloud"); // "none", "equal", "extra snippet"
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("localAfter");

        QTest::newRow("empty cloud: the local state is uploaded")
            << "none"
            << "Configuration synced to cloud." << QStringList{"Local"};
        QTest::newRow("cloud equals local") << "equal"
                                            << "Knowledge Base sync complete." << QStringList{"Local"};
        QTest::newRow("cloud has a new snippet")
            << "extra snippet"
            << "Knowledge Base updated from cloud sync." << QStringList{"Local", "Remote"};
    }

    void pullReportsWhatTheCloudHeld() {
        QFETCH(QString, cloud);
        QFETCH(QString, status);
        QFETCH(QStringList, localAfter);

        m_rig->knowledgeBase.createSnippet(QStringLiteral("Local"), QStringLiteral("from this computer"));
        m_rig->signIn(m_token);
        if (cloud == QLatin1String("equal")) {
            seedCloud(m_rig->sync.localConfig());
        } else if (cloud == QLatin1String("extra snippet")) {
            CloudConfigDTO config;
            config.snippets =
                QList<SnippetDTO>{snippet(QStringLiteral("Remote"), QStringLiteral("elsewhere"))};
            seedCloud(config);
        }
        m_backend.reset();

        RuntimeLogCapture log;
        QSignalSpy statusChanges(&m_rig->sync, &ConfigSyncCoordinator::statusTextChanged);
        runTask(m_rig->sync.pullAndMerge());

        QCOMPARE(m_rig->sync.statusText(), status);
        QCOMPARE(configRequests("GET"), 1);
        QCOMPARE(configRequests("POST"), 1);
        QCOMPARE(localSnippetTitles(m_rig->knowledgeBase), localAfter);
        // The push carried the whole local state: the cloud now holds what this computer holds.
        const CloudConfigDTO stored = cloudCopy();
        QCOMPARE(snippetTitles(stored.snippets.value_or(QList<SnippetDTO>{})), localAfter);
        QVERIFY(stored.settings && stored.settings->count(QStringLiteral("transcription_model")) == 1);
        QVERIFY(stored.settings->count(QStringLiteral("silence_threshold")) == 1);
        QVERIFY(log.entries().contains(QStringLiteral("INFO Knowledge base sync pull requested")));
        // The session token is a credential: no line shows it.
        for (const QString& line : log.entries()) {
            QVERIFY2(!line.contains(m_token), qPrintable(line));
        }
    }

    void promptSettingsWinOnASharedKey() {
        const JSONValue::Object merged = ConfigSyncCoordinator::mergedSettings(
            {{QStringLiteral("shared"), JSONValue::string(QStringLiteral("app"))},
             {QStringLiteral("only_app"), JSONValue::boolean(true)}},
            {{QStringLiteral("shared"), JSONValue::string(QStringLiteral("prompt"))},
             {QStringLiteral("only_prompt"), JSONValue::number(2)}});
        QCOMPARE(merged.size(), std::size_t(3));
        QCOMPARE(merged.at(QStringLiteral("shared")).stringValue(), QStringLiteral("prompt"));
        QCOMPARE(merged.at(QStringLiteral("only_app")).boolValue(), true);
        QCOMPARE(merged.at(QStringLiteral("only_prompt")).numberValue(), 2.0);
    }

    void pullWithoutSessionSendsNothing() {
        runTask(m_rig->sync.pullAndMerge());
        QCOMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kNeedsSessionText);
        QVERIFY(m_backend.received().empty());
    }

    void burstOfEditsMakesOnePushOneSecondAfterTheLast() {
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_backend.reset();

        m_rig->knowledgeBase.createSnippet(QStringLiteral("One"), QStringLiteral("1"));
        m_rig->scheduler.advance(200ms);
        m_rig->knowledgeBase.createDictionaryTerm(QStringLiteral("Two"), QString());
        m_rig->scheduler.advance(200ms);
        m_rig->knowledgeBase.createSnippet(QStringLiteral("Three"), QStringLiteral("3"));

        m_rig->scheduler.advance(999ms);
        QTest::qWait(50);
        QCOMPARE(configRequests("POST"), 0);
        m_rig->scheduler.advance(1ms);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kSavedText);
        m_rig->scheduler.advance(5s);
        QTest::qWait(50);
        QCOMPARE(configRequests("POST"), 1);
        QCOMPARE(configRequests("GET"), 0);
        const CloudConfigDTO stored = cloudCopy();
        QCOMPARE(snippetTitles(stored.snippets.value_or(QList<SnippetDTO>{})), (QStringList{"One", "Three"}));
        QCOMPARE(stored.dictionary.value_or(QList<DictionaryEntryDTO>{}).size(), 1);
    }

    void editWhileSignedOutReportsTheMissingSession() {
        QSignalSpy statusChanges(&m_rig->sync, &ConfigSyncCoordinator::statusTextChanged);
        QStringList shown;
        connect(&m_rig->sync, &ConfigSyncCoordinator::statusTextChanged, this,
                [&] { shown << m_rig->sync.statusText(); });

        m_rig->knowledgeBase.createDictionaryTerm(QStringLiteral("Quillvane"), QString());
        m_rig->scheduler.advance(1s);
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown, (QStringList{QStringLiteral("Knowledge Base sync requires an active session."),
                                     QStringLiteral("Knowledge Base save failed: Backend error 401: No "
                                                    "session token")}));
        QVERIFY(m_backend.received().empty());
    }

    // What the user is told to do, by the cause of the failure.
    void failureAdviceFollowsTheCause() {
        using Make = std::function<std::exception_ptr()>;
        const auto transport = [](bool timedOut) {
            return std::make_exception_ptr(BackendTransportError(
                timedOut ? QNetworkReply::OperationCanceledError : QNetworkReply::ConnectionRefusedError,
                QStringLiteral("Connection refused"), timedOut));
        };
        const auto http = [](qint64 status) {
            return std::make_exception_ptr(BackendClientError::httpError(status, QStringLiteral("x")));
        };
        const std::vector<std::tuple<const char*, Make, QString>> cases{
            {"offline", [&] { return transport(false); }, ConfigSyncCoordinator::kOfflineAdvice},
            {"timed out", [&] { return transport(true); }, ConfigSyncCoordinator::kTimedOutAdvice},
            {"401", [&] { return http(401); }, ConfigSyncCoordinator::kSignInAdvice},
            {"403", [&] { return http(403); }, ConfigSyncCoordinator::kSignInAdvice},
            {"429", [&] { return http(429); }, ConfigSyncCoordinator::kServiceAdvice},
            {"503", [&] { return http(503); }, ConfigSyncCoordinator::kServiceAdvice},
            {"400", [&] { return http(400); }, ConfigSyncCoordinator::kOtherAdvice},
            {"bad base URL", [] { return std::make_exception_ptr(BackendClientError::invalidBaseURL()); },
             ConfigSyncCoordinator::kAddressAdvice},
            {"undecodable answer",
             [] { return std::make_exception_ptr(BackendClientError::decodingFailed()); },
             ConfigSyncCoordinator::kOtherAdvice},
            {"anything else", [] { return std::make_exception_ptr(std::runtime_error("boom")); },
             ConfigSyncCoordinator::kOtherAdvice},
        };
        for (const auto& [name, make, advice] : cases) {
            QVERIFY2(ConfigSyncCoordinator::adviceFor(make()) == advice, name);
        }
    }

    // A failure stays published while the retry runs (the status says "Syncing..." then) and goes once a
    // push succeeds; the session-less failure is not one "Try Again" can mend; signing out forgets it.
    void failureLastsUntilASyncSucceeds() {
        m_rig->signIn(m_token);
        QSignalSpy failureChanges(&m_rig->sync, &ConfigSyncCoordinator::failureChanged);
        m_backend.scriptNext(kConfigPath, {503, R"({"detail":"maintenance"})"});
        runTask(m_rig->sync.pullAndMerge());
        const QString failed = m_rig->sync.statusText();
        QVERIFY2(failed.startsWith(ConfigSyncCoordinator::kSyncFailedPrefix), qPrintable(failed));
        QCOMPARE(m_rig->sync.failureText(), failed);
        QCOMPARE(m_rig->sync.failureAdvice(), ConfigSyncCoordinator::kServiceAdvice);
        QVERIFY(m_rig->sync.failureRetryable());
        QCOMPARE(failureChanges.size(), 1);

        QStringList failureWhileSyncing;
        auto watch = connect(&m_rig->sync, &ConfigSyncCoordinator::statusTextChanged, this, [&] {
            if (m_rig->sync.statusText() == ConfigSyncCoordinator::kSyncingText) {
                failureWhileSyncing << m_rig->sync.failureText();
            }
        });
        m_rig->sync.retryNow();
        m_rig->sync.retryNow(); // a second press while the first retry runs starts nothing
        QTRY_VERIFY(m_rig->sync.failureText().isEmpty());
        QCOMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUploadedText);
        disconnect(watch);
        QCOMPARE(failureWhileSyncing, QStringList{failed});
        QCOMPARE(m_rig->sync.failureAdvice(), QString());
        QCOMPARE(configRequests("GET"), 2);

        // Signed out, an edit cannot be saved: signing in is what helps.
        m_rig->session.clearSavedSession();
        m_rig->sync.showIdle();
        m_rig->knowledgeBase.createDictionaryTerm(QStringLiteral("Offline"), QString());
        m_rig->scheduler.advance(1s);
        QTRY_VERIFY(m_rig->sync.failureText().startsWith(ConfigSyncCoordinator::kSaveFailedPrefix));
        QCOMPARE(m_rig->sync.failureAdvice(), ConfigSyncCoordinator::kSignInAdvice);
        QVERIFY(!m_rig->sync.failureRetryable());
        m_rig->sync.retryNow();
        QTest::qWait(50);
        QCOMPARE(configRequests("GET"), 2);
        m_rig->sync.showIdle();
        QCOMPARE(m_rig->sync.failureText(), QString());
    }

    void editAfterAFailedPullMergesBeforeItPushes() {
        CloudConfigDTO config;
        config.snippets =
            QList<SnippetDTO>{snippet(QStringLiteral("Other device"), QStringLiteral("added elsewhere"))};
        seedCloud(config);
        m_rig->signIn(m_token);
        m_backend.reset();

        // The start-up pull fails: the stand-in is unavailable for a moment.
        m_backend.scriptNext("/api/user/config", {503, R"({"detail":"maintenance"})"});
        runTask(m_rig->sync.pullAndMerge());
        QVERIFY2(m_rig->sync.statusText().startsWith(ConfigSyncCoordinator::kSyncFailedPrefix),
                 qPrintable(m_rig->sync.statusText()));

        // The first edit pulls and merges first; the push after it keeps the other device's snippet.
        m_rig->knowledgeBase.createSnippet(QStringLiteral("Mine"), QStringLiteral("typed here"));
        m_rig->scheduler.advance(1s);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUpdatedText);
        QCOMPARE(localSnippetTitles(m_rig->knowledgeBase), (QStringList{"Mine", "Other device"}));
        QCOMPARE(snippetTitles(cloudCopy().snippets.value_or(QList<SnippetDTO>{})),
                 (QStringList{"Mine", "Other device"}));

        // Once a pull has succeeded, an edit pushes straight away.
        m_backend.reset();
        m_rig->knowledgeBase.createSnippet(QStringLiteral("Later"), QStringLiteral("later"));
        m_rig->scheduler.advance(1s);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kSavedText);
        QCOMPARE(configRequests("GET"), 0);
        QCOMPARE(configRequests("POST"), 1);
    }

    void pullsAndPushesTakeTurns() {
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_backend.reset();
        m_backend.setDelay("/api/user/config", 300ms);

        // A pull is in flight when two debounced pushes fall due: they wait, and fold into one push.
        bool pullDone = false;
        auto pull = [&]() -> QCoro::Task<> {
            co_await m_rig->sync.pullAndMerge();
            pullDone = true;
        };
        QCoro::Task<> running = pull();
        m_rig->knowledgeBase.createSnippet(QStringLiteral("A"), QStringLiteral("a"));
        m_rig->scheduler.advance(1s);
        m_rig->knowledgeBase.createSnippet(QStringLiteral("B"), QStringLiteral("b"));
        m_rig->scheduler.advance(1s);
        QTRY_VERIFY(pullDone);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kSavedText);
        QTest::qWait(400);
        QCOMPARE(configRequests("GET"), 1);
        QCOMPARE(configRequests("POST"), 2); // the pull's own push, then one for both edits
        QCOMPARE(snippetTitles(cloudCopy().snippets.value_or(QList<SnippetDTO>{})), (QStringList{"A", "B"}));
        m_backend.setDelay("/api/user/config", 0ms);
    }
    void editAfterAFailedPullSurvivesTheMerge_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("failure"); // of the start-up pull: "503" or "missing" endpoint
        QTest::addColumn<int>("threshold");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QStringList>("snippets");

        const QString cloudPrompt = QStringLiteral("From the cloud");
        const QStringList terms{"Kubernetes", "Quillvane"};
        const QStringList snippets{"Address", "Signature"};
        QTest::newRow("setting edited, pull answered 503")
            << "threshold"
            << "503" << 350 << cloudPrompt << terms << snippets;
        QTest::newRow("setting edited, endpoint missing")
            << "threshold"
            << "missing" << 350 << cloudPrompt << terms << snippets;
        QTest::newRow("prompt setting edited") << "prompt"
                                               << "503" << 200 << "Mine" << terms << snippets;
        QTest::newRow("dictionary term deleted")
            << "delete term"
            << "missing" << 200 << cloudPrompt << QStringList{"Quillvane"} << snippets;
        QTest::newRow("snippet deleted") << "delete snippet"
                                         << "503" << 200 << cloudPrompt << terms << QStringList{"Signature"};
        QTest::newRow("snippet renamed")
            << "rename snippet"
            << "missing" << 200 << cloudPrompt << terms << QStringList{"Home address", "Signature"};
    }

    void editAfterAFailedPullSurvivesTheMerge() {
        QFETCH(QString, edit);
        QFETCH(QString, failure);
        QFETCH(int, threshold);
        QFETCH(QString, prompt);
        QFETCH(QStringList, terms);
        QFETCH(QStringList, snippets);

        syncedInAnEarlierRun();
        // Started at login before the network was up: the start-up pull fails.
        failConfigRequests(failure);
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        QVERIFY2(m_rig->sync.statusText().startsWith(ConfigSyncCoordinator::kSyncFailedPrefix),
                 qPrintable(m_rig->sync.statusText()));
        m_backend.reset(); // the network is up

        QStringList shown;
        connect(&m_rig->sync, &ConfigSyncCoordinator::statusTextChanged, this,
                [&] { shown << m_rig->sync.statusText(); });
        makeEdit(edit);
        m_rig->scheduler.advance(1s);
        // The edit's push pulls first; the cloud's old values do not undo the edit.
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kCompleteText);
        expectEverywhere(threshold, prompt, terms, snippets);
        QVERIFY(m_rig->sync.pendingEdits().isEmpty());

        // The merge asked for no push of its own; nothing else runs later.
        m_rig->scheduler.advance(1min);
        QTest::qWait(50);
        QCOMPARE(configRequests("GET"), 2); // the edit's pull, and cloudCopy() above
        QCOMPARE(configRequests("POST"), 1);
        QVERIFY(!shown.contains(ConfigSyncCoordinator::kSavedText));
        QCOMPARE(m_rig->scheduler.pendingCount(), 0);
    }

    void pendingEditsSurviveARestart() {
        syncedInAnEarlierRun();
        // Offline for this whole run: the pull fails, and so does the save of the edits.
        failConfigRequests(QStringLiteral("missing"));
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_rig->appSettings.setSilenceThreshold(350);
        m_rig->knowledgeBase.deleteDictionaryTerm(m_rig->termId(QStringLiteral("Kubernetes")));
        m_rig->knowledgeBase.deleteSnippet(m_rig->snippetId(QStringLiteral("Address")));
        m_rig->scheduler.advance(1s);
        QTRY_VERIFY2(m_rig->sync.statusText().startsWith(ConfigSyncCoordinator::kSaveFailedPrefix),
                     qPrintable(m_rig->sync.statusText()));
        const QString file = m_rig->sync.pendingEdits().filePath();
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));

        // Quit and start again, online this time.
        restart();
        QVERIFY(!m_rig->sync.pendingEdits().isEmpty());
        m_backend.reset();
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        QCOMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kCompleteText);
        expectEverywhere(350, QStringLiteral("From the cloud"), {"Quillvane"}, {"Signature"});

        // Settled for good: the file holds nothing pending, and the cloud's values count again.
        restart();
        QVERIFY(m_rig->sync.pendingEdits().isEmpty());
        CloudConfigDTO config = cloudCopy();
        (*config.settings)[QStringLiteral("silence_threshold")] = JSONValue::number(420);
        config.dictionary->append(entry(QStringLiteral("Kubernetes")));
        seedCloud(config);
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        QCOMPARE(m_rig->appSettings.silenceThreshold(), 420);
        QCOMPARE(m_rig->terms(), (QStringList{"Kubernetes", "Quillvane"}));
    }

    void editDuringAPushStaysPendingUntilItsOwnPush() {
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_backend.setDelay(kConfigPath, 300ms);
        m_rig->appSettings.setSilenceThreshold(300);
        m_rig->scheduler.advance(1s);
        QTest::qWait(100); // the push of 300 is on its way
        m_rig->appSettings.setSilenceThreshold(350);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kSavedText);
        // That push did not carry 350: the edit stays the user's until a push does.
        QCOMPARE(m_rig->sync.pendingEdits().editedSettings(), QSet<QString>{"silence_threshold"});
        m_backend.setDelay(kConfigPath, 0ms);
        m_rig->scheduler.advance(1s);
        QTRY_VERIFY(m_rig->sync.pendingEdits().isEmpty());
        QCOMPARE(cloudCopy().settings->at(QStringLiteral("silence_threshold")).numberValue(), 350.0);
    }

    void comingBackOnlineRetriesThePull_data() {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("the application becomes active") << "active";
        QTest::newRow("another request succeeds") << "request";
        QTest::newRow("the back-off timer") << "timer";
    }

    void comingBackOnlineRetriesThePull() {
        QFETCH(QString, trigger);
        syncedInAnEarlierRun();
        // Meanwhile another device changed the threshold, turned auto-space off and added a term.
        CloudConfigDTO config = cloudCopy();
        (*config.settings)[QStringLiteral("silence_threshold")] = JSONValue::number(300);
        (*config.settings)[QStringLiteral("auto_space_enabled")] = JSONValue::boolean(false);
        config.dictionary->append(entry(QStringLiteral("Zephyr")));
        seedCloud(config);
        QVERIFY(m_rig->appSettings.autoSpaceEnabled());

        // Offline: the start-up pull fails (first failure), then the save of an edit (second failure).
        failConfigRequests(QStringLiteral("missing"));
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_rig->appSettings.setSilenceThreshold(350);
        m_rig->scheduler.advance(1s);
        QTRY_VERIFY2(m_rig->sync.statusText().startsWith(ConfigSyncCoordinator::kSaveFailedPrefix),
                     qPrintable(m_rig->sync.statusText()));
        QVERIFY(m_rig->sync.retryPending());

        m_backend.reset(); // back online; nothing pulls by itself before the trigger
        QTest::qWait(50);
        QCOMPARE(configRequests("GET"), 0);
        if (trigger == QLatin1String("active")) {
            m_rig->sync.retryIfPending();
        } else if (trigger == QLatin1String("request")) {
            runTask(m_rig->session.refreshSession(true));
        } else {
            m_rig->scheduler.advance(ConfigSyncCoordinator::kRetryDelayFirst * 2 - 1ms);
            QTest::qWait(50);
            QCOMPARE(configRequests("GET"), 0);
            m_rig->scheduler.advance(1ms);
        }
        // The edited key stays; the untouched ones and the new term come from the cloud.
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUpdatedText);
        QCOMPARE(configRequests("GET"), 1);
        QCOMPARE(configRequests("POST"), 1);
        QVERIFY(!m_rig->appSettings.autoSpaceEnabled());
        expectEverywhere(350, QStringLiteral("From the cloud"), {"Kubernetes", "Quillvane", "Zephyr"},
                         {"Address", "Signature"});
        QVERIFY(!m_rig->sync.retryPending());
        QVERIFY(m_rig->sync.pendingEdits().isEmpty());
        QCOMPARE(m_rig->scheduler.pendingCount(), 0); // at rest again: no timer left
    }

    void timedRetriesBackOffThenStop() {
        m_rig->signIn(m_token);
        failConfigRequests(QStringLiteral("missing"));
        runTask(m_rig->sync.pullAndMerge());
        int pulls = 1;
        for (const std::chrono::seconds delay : {5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s}) {
            QTRY_COMPARE(m_rig->scheduler.pendingCount(), 1); // the failure has set the next retry
            m_rig->scheduler.advance(delay - 1ms);
            QTest::qWait(20);
            QCOMPARE(configRequests("GET"), pulls);
            m_rig->scheduler.advance(1ms);
            ++pulls;
            QTRY_COMPARE(configRequests("GET"), pulls);
        }
        QTRY_VERIFY(m_rig->sync.statusText().startsWith(ConfigSyncCoordinator::kSyncFailedPrefix));
        QCOMPARE(m_rig->scheduler.pendingCount(), 0); // given up: no wake-ups while offline from now on
        m_rig->scheduler.advance(1h);
        QTest::qWait(20);
        QCOMPARE(configRequests("GET"), pulls);

        // Becoming active still retries.
        QVERIFY(m_rig->sync.retryPending());
        m_backend.reset();
        m_rig->sync.retryIfPending();
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUploadedText);
        QVERIFY(!m_rig->sync.retryPending());
    }

    void rotatedTokensAreNoReasonToPull() {
        m_rig->signIn(m_token);
        runTask(m_rig->sync.pullAndMerge());
        m_backend.reset();
        // Each session answer carries a new token, as the backend may rotate it.
        const auto rotate = [this] {
            const std::string next = m_backend.openSession();
            m_backend.scriptNext("/api/session", {200, R"({"total_words":1,"total_minutes":0.5,)"
                                                       R"("lifetime_words":1,"lifetime_minutes":0.5,)"
                                                       R"("session_token":")" +
                                                           next + R"("})"});
            runTask(m_rig->session.refreshSession(true));
            QCOMPARE(m_rig->session.activeSessionToken(),
                     std::optional<QString>(QString::fromStdString(next)));
        };
        rotate();
        rotate();
        SessionResponseDTO snapshot; // a transcription answer rotates it too
        snapshot.session_token = QString::fromStdString(m_backend.openSession());
        m_rig->session.applySessionSnapshot(snapshot);
        QTest::qWait(50);
        QCOMPARE(configRequests("GET"), 0);

        // The session is the same whatever its token: an edit pushes without pulling first.
        m_rig->knowledgeBase.createDictionaryTerm(QStringLiteral("Rotated"), QString());
        m_rig->scheduler.advance(1s);
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kSavedText);
        QCOMPARE(configRequests("GET"), 0);
        QCOMPARE(configRequests("POST"), 1);

        // After a failed pull, the first successful answer retries it once; later rotations do not.
        failConfigRequests(QStringLiteral("503"));
        runTask(m_rig->sync.pullAndMerge());
        QVERIFY(m_rig->sync.retryPending());
        rotate();
        // (The stand-in's new token names a fresh, empty configuration.)
        QTRY_COMPARE(m_rig->sync.statusText(), ConfigSyncCoordinator::kUploadedText);
        QCOMPARE(configRequests("GET"), 2);
        rotate();
        rotate();
        QTest::qWait(50);
        QCOMPARE(configRequests("GET"), 2);
        QCOMPARE(m_rig->scheduler.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestConfigSync)
#include "tst_config_sync.moc"
