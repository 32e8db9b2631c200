// Cloud configuration sync against the stand-in backend's stored configuration: what a pull merges and
// reports, what a push sends, the one-second debounce on a manual scheduler, the signed-out path, and a
// push that must not overwrite the cloud before a pull has succeeded.
#include "../stores/session/FakeSecretBackend.h"
#include "AppSettings.h"
#include "BackendClient.h"
#include "ConfigSyncCoordinator.h"
#include "KnowledgeBaseStore.h"
#include "ManualScheduler.h"
#include "PromptSettingsStore.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "StandinBackend.h"
#include "UserDefaults.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// Every store and service the sync touches, on private files, talking to one stand-in.
struct SyncRig {
    explicit SyncRig(const QString& baseUrl)
        : defaults(dir.filePath(QStringLiteral("settings.json"))), appSettings(defaults),
          promptSettings(defaults), knowledgeBase(dir.path()), client(QUrl(baseUrl)),
          secrets(std::make_shared<FakeSecretBackend>()), secureStore(secrets), session(client, secureStore),
          scheduler(clock), sync(client, appSettings, session, promptSettings, knowledgeBase, scheduler) {
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

    QTemporaryDir dir;
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
    std::unique_ptr<SyncRig> m_rig;

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

private slots:
    void initTestCase() {
        m_backend.start();
        m_base = QString::fromStdString(m_backend.baseUrl());
    }

    void init() {
        m_token = QString::fromStdString(m_backend.openSession());
        m_rig = std::make_unique<SyncRig>(m_base);
        m_backend.reset();
    }

    void cleanup() { m_rig.reset(); }

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
};

QTEST_GUILESS_MAIN(TestConfigSync)
#include "tst_config_sync.moc"
