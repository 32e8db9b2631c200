#pragma once
// The coordinator with the real pipelines, the real backend client and session coordinator, talking to the
// stand-in backend in-process on a loopback port; the desktop services are recording fakes.

#include "../stores/session/FakeSecretBackend.h"
#include "DictationFakes.h"
#include "DictationServiceAdapters.h"
#include "RunTask.h"
#include "WavWriter.h"

#include "BackendClient.h"
#include "DictationPipelines.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "StandinBackend.h"
#include "TranscriptionSubmission.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <chrono>
#include <memory>

namespace rig {

struct HistoryLine {
    QString text;
    std::optional<QString> provider;
    QString appContext;
    double durationSeconds = 0;
};

class RecordingHistory final : public HistoryRecorder {
public:
    QList<HistoryLine> entries;
    void addEntry(const QString& text, const std::optional<QString>& provider, const QString& appContext,
                  double durationSeconds) override {
        entries << HistoryLine{text, provider, appContext, durationSeconds};
    }
};

// Notes in memory; `deleteOnAdd` drops the note right after it was created (the user deleted it before
// its title arrived).
class RecordingNotes final : public NoteRecorder {
public:
    QList<NoteEntry> notes;
    bool deleteOnAdd = false;
    QStringList renames; // "expected -> title" per call

    NoteEntry addVoiceNote(const QString& body, const QDateTime& timestamp) override {
        NoteEntry note{QUuid::createUuid(), body.left(60), body, timestamp};
        if (!deleteOnAdd) {
            notes.prepend(note);
        }
        return note;
    }
    bool renameIfTitleIs(const QUuid& id, const QString& expected, const QString& title) override {
        renames << expected + QStringLiteral(" -> ") + title;
        for (NoteEntry& note : notes) {
            if (note.id == id && note.title == expected) {
                note.title = title;
                return true;
            }
        }
        return false;
    }
};

class ScriptedSelection final : public SelectionSource {
public:
    std::optional<QString> text; // nothing: the capture throws, as when nothing is selected
    int captures = 0;
    QCoro::Task<QString> captureSelectedText() override {
        ++captures;
        if (!text) {
            throw fakes::TestError(QStringLiteral("No text is selected."));
        }
        co_return *text;
    }
};

class RecordingInserter final : public TextInserter {
public:
    QStringList pasted;
    QStringList typed;
    std::optional<QString> failure; // every insertion throws this
    std::chrono::steady_clock::time_point lastPasteAt;
    QCoro::Task<> pasteText(QString text) override {
        if (failure) {
            throw fakes::TestError(*failure);
        }
        lastPasteAt = std::chrono::steady_clock::now();
        pasted << text;
        co_return;
    }
    QCoro::Task<> typeText(QString text, double) override {
        if (failure) {
            throw fakes::TestError(*failure);
        }
        typed << text;
        co_return;
    }

    // The window a retry asked for, and how bringing it back goes.
    QList<quint64> raised;
    WindowRaise raiseOutcome = WindowRaise::Raised;
    QStringList clipboard;
    QCoro::Task<WindowRaise> bringToFront(quint64 window, std::optional<qint64>) override {
        raised << window;
        co_return raiseOutcome;
    }
    bool copyToClipboard(const QString& text) override {
        clipboard << text;
        return true;
    }
};

class KnowledgeBase final : public KnowledgeBaseSource {
public:
    QList<DictionaryEntryDTO> dictionary;
    QList<SnippetDTO> snippetList;
    QList<DictionaryTerm> dictionaryTerms() const override {
        QList<DictionaryTerm> terms;
        for (const auto& entry : dictionary) {
            terms << DictionaryTerm{QUuid::createUuid(), entry.term, entry.note.value_or(QString())};
        }
        return terms;
    }
    QList<KnowledgeSnippet> snippets() const override {
        QList<KnowledgeSnippet> list;
        for (const auto& s : snippetList) {
            list << KnowledgeSnippet{QUuid::createUuid(), s.title, s.value};
        }
        return list;
    }
    QList<DictionaryEntryDTO> dictionaryDTOs() const override { return dictionary; }
    QList<SnippetDTO> snippetDTOs() const override { return snippetList; }
};

// 1.5 s of a loud tone: passes the local speech check.
inline QByteArray voicedClip(double seconds = 1.5) {
    return testwav::monoPcm16Wav(testwav::sineTone(220, seconds, 16000, 0.4), 16000);
}

inline QByteArray silentClip(double seconds = 1.5) {
    return testwav::monoPcm16Wav(std::vector<std::int16_t>(std::size_t(seconds * 16000), 0), 16000);
}

inline std::string json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

struct Rig {
    QTemporaryDir dir;
    standin::StandinBackend standin;
    std::unique_ptr<BackendClient> client;
    std::shared_ptr<FakeSecretBackend> secrets = std::make_shared<FakeSecretBackend>();
    SecureStore secureStore{secrets};
    std::unique_ptr<SessionCoordinator> session;
    std::unique_ptr<SessionAdapter> sessionBridge; // the real SessionCoordinator, as the coordinator sees it

    fakes::FakeRecorder recorder{dir.path()};
    fakes::FakeShortcuts shortcuts;
    fakes::FakeOverlay overlay;
    fakes::FakeSounds sounds;
    fakes::FakeMuter muter;
    fakes::FakeContext context;
    ScriptedSelection selection;
    RecordingInserter inserter;
    fakes::FakeSettings settings;
    KnowledgeBase knowledgeBase;
    RecordingHistory history;
    RecordingNotes notes;
    std::unique_ptr<PromptComposer> composer;
    std::unique_ptr<DictationPipelines> pipelines;
    std::unique_ptr<DictationCoordinator> coordinator;

    Rig() {
        standin.start();
        client = std::make_unique<BackendClient>(QUrl(QString::fromStdString(standin.baseUrl())));
        session = std::make_unique<SessionCoordinator>(*client, secureStore);
        sessionBridge = std::make_unique<SessionAdapter>(*session);
        composer = std::make_unique<PromptComposer>(context, knowledgeBase);
        pipelines = std::make_unique<DictationPipelines>(*client);
        coordinator = std::make_unique<DictationCoordinator>(
            DictationServices{recorder, shortcuts, overlay, sounds, muter, context, selection, inserter,
                              settings, *sessionBridge, knowledgeBase, history, notes},
            *composer);
        coordinator->setPipeline(pipelines.get());
        coordinator->setRetryDirectory(dir.filePath(QStringLiteral("Retry")));
        coordinator->setMinimumHold(std::chrono::milliseconds(0));
        recorder.clip = voicedClip();
        recorder.clipDuration = 1.5;
        settings.autoSpace = false;
        settings.autoPause = false;
        signIn(QStringLiteral("google-id-1"));
    }
    ~Rig() {
        coordinator.reset();
        standin.stop();
    }

    void signIn(const QString& idToken) {
        const bool ok = runTask(
            session->establishSession("google", "Google", idToken, std::nullopt, std::nullopt, std::nullopt));
        QVERIFY(ok);
    }
    QString token() const { return session->activeSessionToken().value_or(QString()); }

    // One recording from press to the pipeline's end.
    void record(RecordingMode mode = RecordingMode::Transcription, OutputMode output = OutputMode::Paste) {
        runTask(coordinator->startRecording(mode, output));
        runTask(coordinator->stopRecording());
    }

    // The requests the stand-in received on a path, oldest first.
    std::vector<standin::ReceivedRequest> requests(const std::string& path) const {
        std::vector<standin::ReceivedRequest> result;
        for (const auto& request : standin.received()) {
            if (request.path == path) {
                result.push_back(request);
            }
        }
        return result;
    }
    QStringList paths() const {
        QStringList result;
        for (const auto& request : standin.received()) {
            if (request.path != "/api/session") {
                result << QString::fromStdString(request.path);
            }
        }
        return result;
    }
    static QString field(const standin::ReceivedRequest& request, const char* name) {
        const auto it = request.formFields.find(name);
        return it == request.formFields.end() ? QString() : QString::fromStdString(it->second);
    }
    static bool hasField(const standin::ReceivedRequest& request, const char* name) {
        return request.formFields.count(name) > 0;
    }

    void useEmailContext() {
        context.context =
            ActiveAppContext{QStringLiteral("Thunderbird"), QStringLiteral("thunderbird"),
                             QStringLiteral("Write: Weekly update"), QStringLiteral("communication"),
                             QStringLiteral("Thunderbird (COMMUNICATION) - Write: Weekly update")};
    }
};

// A transcription answer as the backend gives it, carrying the session snapshot.
inline standin::ScriptedResponse
transcriptionAnswer(const QString& text, const QString& token,
                    const std::optional<QString>& transcript = std::nullopt) {
    QJsonObject session{{"total_words", 3},
                        {"total_minutes", 0.5},
                        {"lifetime_words", 3},
                        {"lifetime_minutes", 0.5},
                        {"session_token", token}};
    QJsonObject answer{{"text", text},
                       {"words", qint64(text.split(' ', Qt::SkipEmptyParts).size())},
                       {"session", session},
                       {"provider", "nova-3"}};
    if (transcript) {
        answer.insert("transcript_text", *transcript);
    }
    return standin::ScriptedResponse{200, json(answer), "application/json"};
}

inline standin::ScriptedResponse failure(int status, const std::string& body) {
    return standin::ScriptedResponse{status, body, "text/plain"};
}

} // namespace rig
