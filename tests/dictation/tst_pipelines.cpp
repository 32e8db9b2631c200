// The dictation, AI Mode and voice-note pipelines end to end against the stand-in backend: the fields as
// the backend received them, the combined e-mail route and its fall-back, authentication failures, the
// one-time model fall-back, silent clips, insertion failures, selections, note titles, the retry after
// signing in again and late answers after a sign-out.

#include "PipelineRig.h"
#include "RuntimeLogCapture.h"

#include <QTimer>
#include <QTest>

using namespace rig;

Q_DECLARE_METATYPE(RecordingMode)
Q_DECLARE_METATYPE(OutputMode)
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(standin::ScriptedResponse)
Q_DECLARE_METATYPE(WindowRaise)

namespace {

using Fields = QMap<QString, QString>;

// The value of `name=` in the latency line of a pipeline.
qint64 latencyField(const QString& pipeline, const QString& name) {
    const QStringList lines =
        RuntimeLogCapture::entriesStartingWith(QStringLiteral("INFO Latency ") + pipeline);
    if (lines.size() != 1) {
        qWarning() << "latency lines:" << lines;
        return -1;
    }
    for (const QString& part : lines.first().split(QLatin1Char(' '))) {
        if (part.startsWith(name + QLatin1Char('='))) {
            return part.mid(name.size() + 1).toLongLong();
        }
    }
    return -1;
}

QJsonArray jsonArray(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

} // namespace

class TestPipelines : public QObject {
    Q_OBJECT

private slots:
    // ---- The fields of the upload -------------------------------------------------------------------------

    void fieldsAsReceived_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("tier");
        QTest::addColumn<QString>("verbatim");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("path");
        QTest::addColumn<Fields>("expected");
        QTest::addColumn<QStringList>("absent");
        QTest::addColumn<bool>("prompt");

        QTest::newRow("balanced short dictation")
            << RecordingMode::Transcription << "tidewell"
            << "off" << 1.5 << "/api/transcription"
            << Fields{{"model", "whisper-large-v3-turbo"},
                      {"language_mode", "auto_detect"},
                      {"duration_seconds", "1.5000"}}
            << QStringList{"verbatim", "verbatim_mode", "prompt", "refinement_mode"} << false;
        QTest::newRow("capable tier sends the prompt")
            << RecordingMode::Transcription << "keystoner"
            << "off" << 1.23456 << "/api/transcription"
            << Fields{{"model", "gpt-4o-transcribe"}, {"duration_seconds", "1.2346"}}
            << QStringList{"verbatim", "verbatim_mode"} << true;
        QTest::newRow("verbatim dictation")
            << RecordingMode::Transcription << "zephyrix"
            << "strict" << 4.0 << "/api/transcription"
            << Fields{{"model", "nova-3"}, {"verbatim", "true"}, {"verbatim_mode", "strict"}}
            << QStringList{"prompt"} << false;
        QTest::newRow("voice note") << RecordingMode::Note << "tidewell"
                                    << "off" << 2.0 << "/api/transcription"
                                    << Fields{{"model", "nova-3"}, {"duration_seconds", "2.0000"}}
                                    << QStringList{"prompt", "verbatim"} << false;
        QTest::newRow("AI Mode: prompt, no verbatim")
            << RecordingMode::SmartEdit << "keystoner"
            << "strict" << 1.5 << "/api/transcription/refine"
            << Fields{{"model", "whisper-large-v3-turbo"},
                      {"refinement_mode", "generic"},
                      {"app_name", "Kate"},
                      {"window_title", "notes.txt"},
                      {"selected_text", "draft"}}
            << QStringList{"verbatim", "verbatim_mode", "custom_instructions"} << true;
    }
    void fieldsAsReceived() {
        QFETCH(RecordingMode, mode);
        QFETCH(QString, tier);
        QFETCH(QString, verbatim);
        QFETCH(double, duration);
        QFETCH(QString, path);
        QFETCH(Fields, expected);
        QFETCH(QStringList, absent);
        QFETCH(bool, prompt);

        Rig r;
        r.settings.prompts.transcriptionModel = tier;
        r.settings.prompts.customPrompt = QStringLiteral("   "); // blank: never sent as instructions
        r.settings.verbatim = verbatim;
        r.recorder.clipDuration = duration;
        r.selection.text = QStringLiteral("draft");
        r.knowledgeBase.dictionary = {DictionaryEntryDTO{"Quillvane", QStringLiteral("the app")},
                                      DictionaryEntryDTO{"Kubernetes", std::nullopt}};
        r.knowledgeBase.snippetList = {SnippetDTO{"signature", "Best, Ann"}};
        r.record(mode);

        const auto requests = r.requests(path.toStdString());
        QCOMPARE(requests.size(), std::size_t(1));
        const auto& request = requests.front();
        QCOMPARE(Rig::field(request, "session_token"), r.token());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QCOMPARE(Rig::field(request, it.key().toUtf8().constData()), it.value());
        }
        for (const QString& name : absent) {
            QVERIFY2(!Rig::hasField(request, name.toUtf8().constData()), qPrintable(name));
        }
        QCOMPARE(Rig::hasField(request, "prompt"), prompt);
        if (prompt) {
            QVERIFY(Rig::field(request, "prompt").contains(QStringLiteral("Quillvane")));
        }
        QCOMPARE(jsonArray(Rig::field(request, "dictionary_json")),
                 (QJsonArray{QJsonObject{{"term", "Quillvane"}, {"note", "the app"}},
                             QJsonObject{{"term", "Kubernetes"}}}));
        QCOMPARE(jsonArray(Rig::field(request, "snippets_json")),
                 (QJsonArray{QJsonObject{{"title", "signature"}, {"value", "Best, Ann"}}}));
        QVERIFY(request.file.has_value());
        QCOMPARE(request.file->name, std::string("audio"));
        QCOMPARE(request.file->contentType, std::string("audio/wav"));
        QCOMPARE(QByteArray::fromStdString(request.file->content), r.recorder.clip);
    }

    void emptyKnowledgeBaseIsSentAsEmptyArrays() {
        Rig r;
        r.record();
        const auto request = r.requests("/api/transcription").front();
        QCOMPARE(Rig::field(request, "dictionary_json"), QStringLiteral("[]"));
        QCOMPARE(Rig::field(request, "snippets_json"), QStringLiteral("[]"));
    }

    // ---- Dictation routes ---------------------------------------------------------------------------------

    void plainDictationPastesAndRecordsHistory_data() {
        QTest::addColumn<OutputMode>("output");
        QTest::addColumn<QString>("status");
        QTest::newRow("paste") << OutputMode::Paste << "Dictation pasted into the active app.";
        QTest::newRow("type") << OutputMode::Type << "Dictation typed into the active app.";
    }
    void plainDictationPastesAndRecordsHistory() {
        QFETCH(OutputMode, output);
        QFETCH(QString, status);
        RuntimeLogCapture log;
        Rig r;
        r.standin.setTranscript("Hello there general Kenobi");
        const qint64 wordsBefore = r.session->totalWords();
        r.record(RecordingMode::Transcription, output);

        const QStringList inserted = output == OutputMode::Type ? r.inserter.typed : r.inserter.pasted;
        QCOMPARE(inserted, QStringList{"Hello there general Kenobi"});
        QCOMPARE(r.coordinator->statusText(), status);
        QCOMPARE(r.coordinator->lastErrorMessage(), std::nullopt);
        QCOMPARE(r.coordinator->lastRecordingSummary(), QStringLiteral("Transcribed 4 words in 1.5s"));
        QCOMPARE(r.coordinator->lastTranscript(), QStringLiteral("Hello there general Kenobi"));
        QCOMPARE(r.history.entries.size(), 1);
        QCOMPARE(r.history.entries[0].text, QStringLiteral("Hello there general Kenobi"));
        QCOMPARE(r.history.entries[0].provider, QStringLiteral("Quillvane")); // "standin" is no known tier
        QCOMPARE(r.history.entries[0].appContext, r.context.context.debugDescription);
        QCOMPARE(r.history.entries[0].durationSeconds, 1.5);
        QCOMPARE(r.sounds.completions, 1);
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
        QCOMPARE(r.session->totalWords(), wordsBefore + 4); // the answer's snapshot was adopted
        QCOMPARE(log.entriesStartingWith("INFO Transcript paste succeeded").size(), 1);
        QCOMPARE(latencyField("transcription_pipeline", "postprocess_ms") >= 0, true);
        // The log names the application, never the window's title nor the words.
        const QString logText = log.entries().join('\n');
        QVERIFY(logText.contains(QStringLiteral("context=Kate (CODE)")));
        QVERIFY(!logText.contains(r.context.context.windowTitle));
        QVERIFY(!logText.contains(QStringLiteral("Kenobi")));
    }

    void emailContextUsesTheCombinedCall() {
        RuntimeLogCapture log;
        Rig r;
        r.useEmailContext();
        r.standin.scriptNext("/api/transcription/refine", transcriptionAnswer("Hi team,\n\nSee you tomorrow.",
                                                                              r.token(), "see you tomorrow"));
        r.record();

        QCOMPARE(r.paths(), QStringList{"/api/transcription/refine"});
        const auto request = r.requests("/api/transcription/refine").front();
        QCOMPARE(Rig::field(request, "refinement_mode"), QStringLiteral("email"));
        QCOMPARE(Rig::field(request, "app_name"), QStringLiteral("Thunderbird"));
        QCOMPARE(Rig::field(request, "window_title"), QStringLiteral("Write: Weekly update"));
        QVERIFY(!Rig::hasField(request, "custom_instructions"));
        QVERIFY(!Rig::hasField(request, "selected_text"));
        QCOMPARE(r.inserter.pasted, QStringList{"Hi team,\n\nSee you tomorrow."});
        QCOMPARE(r.history.entries.size(), 1);
        QCOMPARE(r.history.entries[0].provider, QStringLiteral("Tidewell"));
        QCOMPARE(latencyField("transcription_pipeline", "postprocess_ms"), 0);
        QVERIFY(log.entries().contains(
            "INFO Combined transcription/email refinement applied in single backend call"));
    }

    void emailFormattingTurnedOffTakesThePlainRoute() {
        Rig r;
        r.useEmailContext();
        r.settings.disableEmail = true;
        r.standin.setTranscript("see you tomorrow");
        r.record();
        QCOMPARE(r.paths(), QStringList{"/api/transcription"});
        QCOMPARE(r.inserter.pasted, QStringList{"see you tomorrow"});
    }

    // A missing combined endpoint: plain transcription, then the e-mail formatter. The failed call's time
    // is not counted in backend_ms; postprocess_ms covers the formatter.
    void missingCombinedEndpointFallsBack_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("405") << 405;
    }
    void missingCombinedEndpointFallsBack() {
        QFETCH(int, status);
        RuntimeLogCapture log;
        Rig r;
        r.useEmailContext();
        r.standin.setMissing("/api/transcription/refine", status);
        r.standin.setDelay("/api/transcription/refine", std::chrono::milliseconds(1500));
        r.standin.setDelay("/api/transcription", std::chrono::milliseconds(150));
        r.standin.setDelay("/api/format/email", std::chrono::milliseconds(200));
        r.standin.setTranscript("see you tomorrow");
        r.standin.scriptNext("/api/format/email",
                             standin::ScriptedResponse{200, R"({"text":"Hi,\n\nSee you tomorrow."})"});
        r.record();

        QCOMPARE(r.paths(),
                 (QStringList{"/api/transcription/refine", "/api/transcription", "/api/format/email"}));
        QCOMPARE(r.inserter.pasted, QStringList{"Hi,\n\nSee you tomorrow."});
        QCOMPARE(r.coordinator->statusText(), QStringLiteral("Dictation pasted into the active app."));
        QCOMPARE(r.coordinator->lastErrorMessage(), std::nullopt);
        QVERIFY(log.entries().contains("INFO Combined transcription/email endpoint unavailable. Falling back "
                                       "to legacy two-call pipeline."));
        const qint64 backendMs = latencyField("transcription_pipeline", "backend_ms");
        const qint64 postprocessMs = latencyField("transcription_pipeline", "postprocess_ms");
        QVERIFY2(backendMs >= 150 && backendMs < 1500, qPrintable(QString::number(backendMs)));
        QVERIFY2(postprocessMs >= 200, qPrintable(QString::number(postprocessMs)));
        QVERIFY(latencyField("transcription_pipeline", "release_to_paste_ms") >= 1500 + 150 + 200);
    }

    void otherCombinedFailuresAreNotFallenBackFrom_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<std::string>("body");
        QTest::addColumn<QString>("told");
        QTest::newRow("500")
            << 500 << std::string("boom")
            << "The Quillvane service had a problem (HTTP 500: boom). Your recording is kept: "
               "press Retry Last Submission on Home in a moment.";
        // The model fall-back applies to plain transcription only.
        QTest::newRow("500 with the model fall-back text")
            << 500 << std::string("OpenAI transcription failed: POST /v1/audio/transcriptions")
            << "The Quillvane service had a problem (HTTP 500: OpenAI transcription failed: POST "
               "/v1/audio/transcriptions). Your recording is kept: press Retry Last Submission on Home in a "
               "moment.";
        QTest::newRow("undecodable") << 200 << std::string("{\"nope\":1}")
                                     << "The Quillvane service sent an answer that could not be read. Your "
                                        "recording is kept: press Retry Last Submission on Home in a moment.";
    }
    void otherCombinedFailuresAreNotFallenBackFrom() {
        QFETCH(int, status);
        QFETCH(std::string, body);
        QFETCH(QString, told);
        Rig r;
        r.useEmailContext();
        r.standin.scriptNext("/api/transcription/refine", failure(status, body));
        r.record();
        QCOMPARE(r.paths(), QStringList{"/api/transcription/refine"});
        QVERIFY(r.inserter.pasted.isEmpty());
        QVERIFY(r.history.entries.isEmpty());
        QVERIFY(r.session->activeSessionToken().has_value());
        // The failure is told by what happened, not as a failure to stop the recording.
        QCOMPARE(r.coordinator->statusText(), told);
        QCOMPARE(r.coordinator->lastErrorMessage(), told);
        QCOMPARE(r.coordinator->lastRecordingSummary(), TranscriptionSubmission::requestFailedSummary);
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
    }

    // ---- Authentication failures --------------------------------------------------------------------------

    void authenticationFailures_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<std::string>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<std::string>("body");
        QTest::addColumn<bool>("signsOut");

        QTest::newRow("401") << "dictation" << std::string("/api/transcription") << 401 << std::string("no")
                             << true;
        QTest::newRow("403") << "dictation" << std::string("/api/transcription") << 403 << std::string("no")
                             << true;
        QTest::newRow("400 Session Expired") << "dictation" << std::string("/api/transcription") << 400
                                             << std::string("Session Expired") << true;
        QTest::newRow("400 other") << "dictation" << std::string("/api/transcription") << 400
                                   << std::string("bad audio") << false;
        QTest::newRow("500 mentioning authentication")
            << "dictation" << std::string("/api/transcription") << 500
            << std::string("upstream authentication with the provider failed") << false;
        QTest::newRow("combined 401") << "email" << std::string("/api/transcription/refine") << 401
                                      << std::string("invalid session") << true;
        QTest::newRow("voice note 403")
            << "note" << std::string("/api/transcription") << 403 << std::string("forbidden") << true;
        QTest::newRow("generic formatter 401 after the AI Mode fall-back")
            << "ai-fallback" << std::string("/api/format/generic") << 401 << std::string("invalid session")
            << true;
    }
    void authenticationFailures() {
        QFETCH(QString, route);
        QFETCH(std::string, path);
        QFETCH(int, status);
        QFETCH(std::string, body);
        QFETCH(bool, signsOut);
        RuntimeLogCapture log;
        Rig r;
        RecordingMode mode = RecordingMode::Transcription;
        if (route == "email") {
            r.useEmailContext();
        } else if (route == "note") {
            mode = RecordingMode::Note;
        } else if (route == "ai-fallback") {
            mode = RecordingMode::SmartEdit;
            r.standin.setMissing("/api/transcription/refine", 404);
        }
        r.standin.scriptNext(path, failure(status, body));
        r.record(mode);

        QVERIFY(r.inserter.pasted.isEmpty());
        QVERIFY(r.history.entries.isEmpty());
        QVERIFY(r.notes.notes.isEmpty());
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
        QCOMPARE(r.session->activeSessionToken().has_value(), !signsOut);
        if (signsOut) {
            QCOMPARE(r.coordinator->statusText(), TranscriptionSubmission::sessionInvalidText);
            QCOMPARE(r.coordinator->lastErrorMessage(), TranscriptionSubmission::sessionInvalidText);
            QCOMPARE(r.coordinator->lastRecordingSummary(), TranscriptionSubmission::sessionInvalidSummary);
            QVERIFY(log.entriesStartingWith("ERROR Dictation stop/transcribe failed").isEmpty());
        } else {
            QVERIFY(r.coordinator->statusText().contains(QString::fromStdString(body)));
            QCOMPARE(r.coordinator->lastRecordingSummary(), TranscriptionSubmission::requestFailedSummary);
            QCOMPARE(log.entriesStartingWith("ERROR Transcription request failed: Backend error ").size(), 1);
        }
    }

    // A 401 that answers a token the user has already replaced leaves the new session alone.
    void rejectionOfAReplacedTokenKeepsTheNewSession() {
        Rig r;
        r.standin.setDelay("/api/transcription", std::chrono::milliseconds(1500));
        r.standin.scriptNext("/api/transcription", failure(401, "invalid session"));
        QString newToken;
        QTimer::singleShot(100, [&r, &newToken] {
            r.session->clearSavedSession();
            QCoro::Task<bool> task = r.session->establishSession("google", "Google", "google-id-2",
                                                                 std::nullopt, std::nullopt, std::nullopt);
            Q_UNUSED(task);
        });
        r.record();
        QVERIFY(r.session->activeSessionToken().has_value());
        // The session in use is fine: the user is not told that it expired.
        QCOMPARE(r.coordinator->statusText(), DictationCoordinator::initialStatus);
        QCOMPARE(r.coordinator->lastErrorMessage(), std::nullopt);
        QVERIFY(r.coordinator->canRetryLastSubmission());
    }

    // ---- The model fall-back ------------------------------------------------------------------------------

    void providerFailureRetriesOnceWithNova3_data() {
        QTest::addColumn<std::string>("body");
        QTest::newRow("as sent") << std::string(
            "OpenAI transcription failed: POST /v1/audio/transcriptions 502");
        QTest::newRow("upper case") << std::string("OPENAI TRANSCRIPTION FAILED AT /V1/AUDIO/TRANSCRIPTIONS");
    }
    void providerFailureRetriesOnceWithNova3() {
        QFETCH(std::string, body);
        RuntimeLogCapture log;
        Rig r;
        r.settings.prompts.transcriptionModel = QStringLiteral("keystoner");
        r.standin.scriptNext("/api/transcription", failure(500, body));
        r.standin.setTranscript("second time lucky");
        r.record();

        const auto requests = r.requests("/api/transcription");
        QCOMPARE(requests.size(), std::size_t(2));
        QCOMPARE(Rig::field(requests[0], "model"), QStringLiteral("gpt-4o-transcribe"));
        QCOMPARE(Rig::field(requests[1], "model"), QStringLiteral("nova-3"));
        QVERIFY(Rig::hasField(requests[0], "prompt"));
        QVERIFY(!Rig::hasField(requests[1], "prompt")); // the prompt goes with the retry in AI Mode only
        QCOMPARE(Rig::field(requests[1], "duration_seconds"), Rig::field(requests[0], "duration_seconds"));
        QCOMPARE(r.inserter.pasted, QStringList{"second time lucky"});
        QVERIFY(log.entries().contains(
            "ERROR Primary transcription model failed, retrying with fallback model=nova-3"));
    }

    // The retry's own failure is classified like the first attempt's, and there is no third upload.
    void failingRetryIsClassified_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<std::string>("body");
        QTest::addColumn<bool>("signsOut");
        QTest::newRow("401") << 401 << std::string("invalid session") << true;
        QTest::newRow("the same provider failure")
            << 500 << std::string("openai transcription failed /v1/audio/transcriptions") << false;
    }
    void failingRetryIsClassified() {
        QFETCH(int, status);
        QFETCH(std::string, body);
        QFETCH(bool, signsOut);
        Rig r;
        r.standin.scriptNext("/api/transcription",
                             failure(500, "openai transcription failed /v1/audio/transcriptions"));
        r.standin.scriptNext("/api/transcription", failure(status, body));
        r.record();

        QCOMPARE(r.requests("/api/transcription").size(), std::size_t(2));
        QCOMPARE(r.session->activeSessionToken().has_value(), !signsOut);
        if (signsOut) {
            QCOMPARE(r.coordinator->statusText(), TranscriptionSubmission::sessionInvalidText);
            QCOMPARE(r.coordinator->lastRecordingSummary(), TranscriptionSubmission::sessionInvalidSummary);
        } else {
            QCOMPARE(r.coordinator->lastRecordingSummary(), TranscriptionSubmission::requestFailedSummary);
        }
    }

    // ---- Silent clips and missing sessions ----------------------------------------------------------------

    void silentClipsSendNothing_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("summary");
        QTest::newRow("dictation") << RecordingMode::Transcription << "No speech detected."
                                   << "The recording was silent, so Quillvane did not insert any text.";
        QTest::newRow("AI Mode") << RecordingMode::SmartEdit << "No spoken AI Mode instruction detected."
                                 << "AI Mode skipped because the recording was silent.";
        QTest::newRow("voice note") << RecordingMode::Note << "No speech detected. Voice note was not saved."
                                    << "The recording was silent, so Quillvane did not create a note.";
    }
    void silentClipsSendNothing() {
        QFETCH(RecordingMode, mode);
        QFETCH(QString, status);
        QFETCH(QString, summary);
        Rig r;
        r.recorder.clip = silentClip();
        r.record(mode);
        QVERIFY(r.paths().isEmpty());
        QCOMPARE(r.coordinator->statusText(), status);
        QCOMPARE(r.coordinator->lastErrorMessage(), status);
        QCOMPARE(r.coordinator->lastRecordingSummary(), summary);
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
        QVERIFY(r.history.entries.isEmpty());
        QCOMPARE(r.selection.captures, 0);
    }

    // ---- Insertion failures -------------------------------------------------------------------------------

    void insertionFailureStillWritesHistory_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<OutputMode>("output");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("provider");
        QTest::newRow("paste")
            << RecordingMode::Transcription << OutputMode::Paste
            << "Transcribed successfully, but output insertion failed: XTest is unavailable."
            << "Transcript captured. Copy it manually from the dashboard if needed."
            << "Quillvane";
        QTest::newRow("type")
            << RecordingMode::Transcription << OutputMode::Type
            << "Transcribed successfully, but output insertion failed: XTest is unavailable."
            << "Transcript captured. Copy it manually from the dashboard if needed."
            << "Quillvane";
        QTest::newRow("AI Mode") << RecordingMode::SmartEdit << OutputMode::Paste
                                 << "AI Mode succeeded, but paste failed: XTest is unavailable."
                                 << "AI Mode result is available in the dashboard history."
                                 << "AI Mode";
    }
    void insertionFailureStillWritesHistory() {
        QFETCH(RecordingMode, mode);
        QFETCH(OutputMode, output);
        QFETCH(QString, status);
        QFETCH(QString, summary);
        QFETCH(QString, provider);
        RuntimeLogCapture log;
        Rig r;
        r.inserter.failure = QStringLiteral("XTest is unavailable.");
        r.standin.setTranscript("keep this text");
        r.record(mode, output);

        QCOMPARE(r.coordinator->statusText(), status);
        QCOMPARE(r.coordinator->lastErrorMessage(), status);
        QCOMPARE(r.coordinator->lastRecordingSummary(), summary);
        QCOMPARE(r.history.entries.size(), 1);
        QVERIFY(r.history.entries[0].text.contains(QStringLiteral("keep this text"), Qt::CaseInsensitive));
        QCOMPARE(r.history.entries[0].provider, provider);
        QCOMPARE(r.coordinator->lastTranscript(), r.history.entries[0].text);
        QCOMPARE(r.sounds.completions, 0);
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
        QVERIFY(log.entriesStartingWith("INFO Latency").isEmpty());
    }

    // An empty transcript is still inserted on the dictation route.
    // An answer without words is not a success: nothing is inserted, stored or sounded, and the user is
    // told that nothing was recognised.
    void emptyAnswerInsertsNothing_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<std::string>("path");
        QTest::addColumn<QString>("text");
        QTest::newRow("dictation") << RecordingMode::Transcription << std::string("/api/transcription") << "";
        QTest::newRow("dictation, blanks")
            << RecordingMode::Transcription << std::string("/api/transcription") << " \n ";
        QTest::newRow("AI Mode") << RecordingMode::SmartEdit << std::string("/api/transcription/refine")
                                 << "";
    }
    void emptyAnswerInsertsNothing() {
        QFETCH(RecordingMode, mode);
        QFETCH(std::string, path);
        QFETCH(QString, text);
        Rig r;
        r.settings.autoSpace = true;
        r.standin.scriptNext(path, transcriptionAnswer(text, r.token(), QStringLiteral("make it shorter")));
        r.record(mode);
        QVERIFY(r.inserter.pasted.isEmpty());
        QVERIFY(r.history.entries.isEmpty());
        QCOMPARE(r.sounds.completions, 0);
        QCOMPARE(r.coordinator->statusText(), QStringLiteral("No speech was recognised."));
        QCOMPARE(r.coordinator->lastErrorMessage(), QStringLiteral("No speech was recognised."));
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
        QVERIFY(!r.coordinator->canRetryLastSubmission());
    }

    // ---- The retry slot -----------------------------------------------------------------------------------

    // Only a recording that passed the speech check and went out replaces the slot.
    void silentClipKeepsTheFailedRecordingForRetry() {
        Rig r;
        r.standin.scriptNext("/api/transcription", failure(503, "maintenance"));
        r.record();
        QVERIFY(r.coordinator->canRetryLastSubmission());
        const QByteArray voiced = r.recorder.clip;
        r.recorder.clip = silentClip();
        r.record();
        QVERIFY(r.coordinator->canRetryLastSubmission());
        QFile copy(r.dir.filePath(QStringLiteral("Retry/last-recording.wav")));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), voiced);
    }

    // A retry's text goes to the window the recording was made for, brought back to the front; when that
    // window is gone (or is ours, or will not come back) it waits on the clipboard and the user is told.
    void retryDeliversToTheRecordedWindow_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<OutputMode>("output");
        QTest::addColumn<WindowRaise>("raise");
        QTest::addColumn<QString>("status");
        const QString closed =
            QStringLiteral("The window you dictated into is closed; the text is on the clipboard.");
        QTest::newRow("paste") << RecordingMode::Transcription << OutputMode::Paste << WindowRaise::Raised
                               << "Dictation pasted into the active app.";
        QTest::newRow("typing") << RecordingMode::Transcription << OutputMode::Type << WindowRaise::Raised
                                << "Dictation typed into the active app.";
        QTest::newRow("AI Mode") << RecordingMode::SmartEdit << OutputMode::Paste << WindowRaise::Raised
                                 << "AI Mode applied and pasted into the active app.";
        QTest::newRow("window closed")
            << RecordingMode::Transcription << OutputMode::Type << WindowRaise::Closed << closed;
        QTest::newRow("our own window")
            << RecordingMode::Transcription << OutputMode::Paste << WindowRaise::Ours << closed;
        QTest::newRow("AI Mode, window closed")
            << RecordingMode::SmartEdit << OutputMode::Paste << WindowRaise::Closed << closed;
        QTest::newRow("window stays behind")
            << RecordingMode::Transcription << OutputMode::Paste << WindowRaise::Refused
            << "The window you dictated into did not come to the front; the text is on the clipboard.";
    }
    void retryDeliversToTheRecordedWindow() {
        QFETCH(RecordingMode, mode);
        QFETCH(OutputMode, output);
        QFETCH(WindowRaise, raise);
        QFETCH(QString, status);
        Rig r;
        const bool aiMode = mode == RecordingMode::SmartEdit;
        const std::string path = aiMode ? "/api/transcription/refine" : "/api/transcription";
        r.selection.text = QStringLiteral("the draft as selected");
        r.standin.scriptNext(path, failure(503, "maintenance"));
        r.record(mode, output);
        QVERIFY(r.coordinator->canRetryLastSubmission());
        QVERIFY(r.inserter.raised.isEmpty()); // a first delivery goes to the frontmost window

        r.selection.text = QStringLiteral("something selected later");
        r.inserter.raiseOutcome = raise;
        r.standin.setTranscript("the words again");
        runTask(r.coordinator->retryLastSubmission());

        QCOMPARE(r.inserter.raised, QList<quint64>{*r.context.context.windowId});
        const QStringList inserted = r.inserter.pasted + r.inserter.typed;
        if (raise == WindowRaise::Raised) {
            QCOMPARE(inserted.size(), 1);
            QVERIFY(r.inserter.clipboard.isEmpty());
            QCOMPARE(r.inserter.typed.size(), output == OutputMode::Type && !aiMode ? 1 : 0);
        } else {
            QVERIFY(inserted.isEmpty());
            QCOMPARE(r.inserter.clipboard.size(), 1);
            QCOMPARE(r.coordinator->lastErrorMessage(), std::nullopt);
        }
        QCOMPARE(r.coordinator->statusText(), status);
        QCOMPARE(r.history.entries.size(), 1);
        QVERIFY(!r.coordinator->canRetryLastSubmission()); // delivered: nothing more to retry
        QVERIFY(!QFileInfo::exists(r.dir.filePath(QStringLiteral("Retry/last-recording.wav"))));
        if (aiMode) {
            // The selection of the recording's own moment goes again; nothing is captured anew.
            QCOMPARE(r.selection.captures, 1);
            const auto requests = r.requests("/api/transcription/refine");
            QCOMPARE(Rig::field(requests.back(), "selected_text"), QStringLiteral("the draft as selected"));
        }
    }

    // ---- AI Mode ------------------------------------------------------------------------------------------

    void aiModeSelections_data() {
        QTest::addColumn<std::optional<QString>>("selection");
        QTest::addColumn<QString>("summary");
        QTest::newRow("selected text") << std::optional<QString>("Dear Bob, the meeting moved.")
                                       << "AI Mode completed using selected text.";
        QTest::newRow("empty selection")
            << std::optional<QString>(QString()) << "AI Mode completed using selected text.";
        QTest::newRow("capture throws")
            << std::optional<QString>() << "AI Mode generated new content from your spoken prompt.";
    }
    void aiModeSelections() {
        QFETCH(std::optional<QString>, selection);
        QFETCH(QString, summary);
        RuntimeLogCapture log;
        Rig r;
        r.selection.text = selection;
        r.settings.prompts.customPrompt = QStringLiteral("Keep it short.");
        r.standin.scriptNext("/api/transcription/refine", transcriptionAnswer("The meeting moved to Friday.",
                                                                              r.token(), "make it formal"));
        r.record(RecordingMode::SmartEdit, OutputMode::Type); // AI Mode pastes whatever the output mode

        const auto request = r.requests("/api/transcription/refine").front();
        QCOMPARE(Rig::field(request, "custom_instructions"), QStringLiteral("Keep it short."));
        QCOMPARE(Rig::hasField(request, "selected_text"), selection && !selection->isEmpty());
        if (selection && !selection->isEmpty()) {
            QCOMPARE(Rig::field(request, "selected_text"), *selection);
        }
        QCOMPARE(r.inserter.pasted, QStringList{"The meeting moved to Friday."});
        QVERIFY(r.inserter.typed.isEmpty());
        QCOMPARE(r.coordinator->statusText(),
                 QStringLiteral("AI Mode applied and pasted into the active app."));
        QCOMPARE(r.coordinator->lastRecordingSummary(), summary);
        QCOMPARE(r.coordinator->lastProvider(), QStringLiteral("AI Mode"));
        QCOMPARE(r.history.entries.size(), 1);
        QCOMPARE(r.history.entries[0].provider, QStringLiteral("AI Mode"));
        const qint64 selected = latencyField("smart_edit_pipeline", "selected_text_ms");
        QVERIFY(selected >= latencyField("smart_edit_pipeline", "transcription_ms"));

        // Neither the selection, the prompt, the result nor the token reaches the log.
        const QString logText = log.entries().join('\n');
        QVERIFY(!logText.contains(r.token()));
        QVERIFY(!logText.contains(QStringLiteral("meeting moved")));
        QVERIFY(!logText.contains(QStringLiteral("Keep it short.")));
        QVERIFY(!logText.contains(QStringLiteral("make it formal")));
    }

    void aiModeFallsBackToTheGenericFormatter() {
        Rig r;
        r.selection.text = QString(); // an empty selection still counts
        r.settings.prompts.customPrompt = QStringLiteral("   ");
        r.knowledgeBase.snippetList = {SnippetDTO{"sig", "Ann"}};
        r.standin.setMissing("/api/transcription/refine", 405);
        r.standin.setTranscript(" write a haiku ");
        r.standin.scriptNext("/api/format/generic",
                             standin::ScriptedResponse{200, R"({"text":"Autumn moonlight"})"});
        r.record(RecordingMode::SmartEdit);

        QCOMPARE(r.paths(),
                 (QStringList{"/api/transcription/refine", "/api/transcription", "/api/format/generic"}));
        const QJsonObject body =
            QJsonDocument::fromJson(QByteArray::fromStdString(r.requests("/api/format/generic").front().body))
                .object();
        QCOMPARE(body.value("text").toString(), QStringLiteral(" write a haiku "));
        QCOMPARE(body.value("selected_text").toString("absent"), QString());
        QCOMPARE(body.value("custom_instructions").toString(), QStringLiteral("   "));
        QCOMPARE(body.value("verbatim"), QJsonValue(false));
        QCOMPARE(body.value("app_name").toString(), QStringLiteral("Kate"));
        QCOMPARE(body.value("session_token").toString(), r.token());
        QCOMPARE(body.value("snippets").toArray(),
                 (QJsonArray{QJsonObject{{"title", "sig"}, {"value", "Ann"}}}));
        QCOMPARE(r.inserter.pasted, QStringList{"Autumn moonlight"});
        QCOMPARE(r.coordinator->lastRecordingSummary(),
                 QStringLiteral("AI Mode completed using selected text."));
    }

    // ---- Voice notes --------------------------------------------------------------------------------------

    void voiceNoteTitles_data() {
        QTest::addColumn<standin::ScriptedResponse>("titleAnswer");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<std::optional<QString>>("typed");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("renames");
        QTest::addColumn<QString>("summary");
        const QStringList renamed{"Notes from the team sync -> Team sync"};
        const std::optional<QString> none;
        QTest::newRow("title") << standin::ScriptedResponse{200, R"({"title":"  Team sync \n"})"} << false
                               << none << "Team sync" << renamed << "Saved voice note and generated title.";
        QTest::newRow("blank title") << standin::ScriptedResponse{200, R"({"title":"  "})"} << false << none
                                     << "Notes from the team sync" << QStringList()
                                     << "Saved voice note and generating title...";
        QTest::newRow("401") << failure(401, "invalid session") << false << none << "Notes from the team sync"
                             << QStringList() << "Voice note saved. Title generation failed.";
        QTest::newRow("note deleted first")
            << standin::ScriptedResponse{200, R"({"title":"Team sync"})"} << true << none << QString()
            << renamed << "Saved voice note and generated title.";
        QTest::newRow("user typed a title before the title arrived")
            << standin::ScriptedResponse{200, R"({"title":"Team sync"})"} << false
            << std::optional<QString>("Q3 planning") << "Q3 planning" << renamed
            << "Saved voice note and generated title.";
    }
    void voiceNoteTitles() {
        QFETCH(standin::ScriptedResponse, titleAnswer);
        QFETCH(bool, deleted);
        QFETCH(std::optional<QString>, typed);
        QFETCH(QString, title);
        QFETCH(QStringList, renames);
        QFETCH(QString, summary);
        RuntimeLogCapture log;
        Rig r;
        r.notes.deleteOnAdd = deleted;
        r.settings.lowercase = true; // notes get no output processing
        r.standin.setTranscript("  Notes from the team sync  \n");
        r.standin.scriptNext("/api/generate_title", titleAnswer);
        // The user types a title into the saved note while its title is on the way.
        QTimer typing;
        bool typedInTime = false;
        if (typed) {
            r.standin.setDelay("/api/generate_title", std::chrono::milliseconds(800));
            typing.setInterval(5);
            connect(&typing, &QTimer::timeout, this, [&] {
                if (!r.notes.notes.isEmpty() && !r.requests("/api/generate_title").empty()) {
                    typing.stop();
                    typedInTime = r.notes.renames.isEmpty();
                    r.notes.notes[0].title = *typed;
                }
            });
            typing.start();
        }
        r.record(RecordingMode::Note);
        QCOMPARE(typedInTime, typed.has_value());

        QCOMPARE(r.paths(), (QStringList{"/api/transcription", "/api/generate_title"}));
        const QJsonObject titleRequest =
            QJsonDocument::fromJson(QByteArray::fromStdString(r.requests("/api/generate_title").front().body))
                .object();
        QCOMPARE(titleRequest.value("text").toString(), QStringLiteral("Notes from the team sync"));
        QCOMPARE(titleRequest.value("session_token").toString(), r.token());
        QVERIFY(r.session->activeSessionToken().has_value()); // a title failure never signs out
        QCOMPARE(r.notes.notes.size(), deleted ? 0 : 1);
        if (!deleted) {
            QCOMPARE(r.notes.notes[0].body, QStringLiteral("Notes from the team sync"));
            QCOMPARE(r.notes.notes[0].title, title);
        }
        QCOMPARE(r.notes.renames, renames); // only over the title the note was created with
        QCOMPARE(r.history.entries.size(), 1);
        QCOMPARE(r.history.entries[0].text, QStringLiteral("Notes from the team sync"));
        QCOMPARE(r.history.entries[0].provider, QStringLiteral("Voice Note"));
        QCOMPARE(r.history.entries[0].appContext, QStringLiteral("Voice Note"));
        QCOMPARE(r.coordinator->statusText(), QStringLiteral("Voice note saved."));
        QCOMPARE(r.coordinator->lastErrorMessage(), std::nullopt);
        QCOMPARE(r.coordinator->lastRecordingSummary(), summary);
        QVERIFY(r.inserter.pasted.isEmpty());
        QCOMPARE(r.sounds.completions, 1);
        QCOMPARE(log.entriesStartingWith("INFO Latency voice_note_pipeline release_to_save_ms=").size(), 1);
    }

    void blankVoiceNoteMakesNoNote() {
        Rig r;
        r.standin.scriptNext("/api/transcription", transcriptionAnswer(" \n ", r.token()));
        r.record(RecordingMode::Note);
        QCOMPARE(r.paths(), QStringList{"/api/transcription"});
        QVERIFY(r.notes.notes.isEmpty());
        QVERIFY(r.history.entries.isEmpty());
        QCOMPARE(r.coordinator->statusText(),
                 QStringLiteral("Voice note recorded, but no text was returned."));
        QCOMPARE(r.coordinator->lastRecordingSummary(),
                 QStringLiteral("Audio was captured, but the transcription was empty."));
    }

    // ---- Sessions -----------------------------------------------------------------------------------------

    void retryAfterSigningInAgain() {
        Rig r;
        const QString firstToken = r.token();
        r.standin.scriptNext("/api/transcription", failure(401, "invalid session"));
        r.record();
        QVERIFY(!r.session->activeSessionToken());
        QVERIFY(r.coordinator->canRetryLastSubmission());

        r.signIn(QStringLiteral("google-id-2"));
        QVERIFY(r.token() != firstToken);
        r.standin.setTranscript("sent again");
        runTask(r.coordinator->retryLastSubmission());

        const auto requests = r.requests("/api/transcription");
        QCOMPARE(requests.size(), std::size_t(2));
        QCOMPARE(Rig::field(requests[1], "session_token"), r.token());
        QCOMPARE(QByteArray::fromStdString(requests[1].file->content), r.recorder.clip);
        QCOMPARE(r.inserter.pasted, QStringList{"sent again"});
        QCOMPARE(r.coordinator->statusText(), QStringLiteral("Dictation pasted into the active app."));
    }

    // An answer that arrives after the user signed out cannot bring the session back.
    void lateAnswerAfterSignOutKeepsTheUserSignedOut() {
        Rig r;
        r.standin.setDelay("/api/transcription", std::chrono::milliseconds(1000));
        r.standin.setTranscript("late words");
        QTimer::singleShot(100, [&r] { r.session->clearSavedSession(); });
        r.record();
        QVERIFY(!r.session->activeSessionToken());
        QCOMPARE(r.session->totalWords(), 0);
        QCOMPARE(r.inserter.pasted, QStringList{"late words"}); // the user's words are still delivered
    }

    void missingSessionSendsNothing_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("status");
        QTest::newRow("dictation") << RecordingMode::Transcription
                                   << "No backend session token is available. Sign in again, then retry.";
        QTest::newRow("AI Mode") << RecordingMode::SmartEdit
                                 << "No backend session token is available. Sign in first.";
        QTest::newRow("voice note") << RecordingMode::Note
                                    << "No backend session token is available. Sign in first.";
    }
    void missingSessionSendsNothing() {
        QFETCH(RecordingMode, mode);
        QFETCH(QString, status);
        Rig r;
        runTask(r.coordinator->startRecording(mode, OutputMode::Paste));
        r.session->clearSavedSession(); // signed out while speaking
        runTask(r.coordinator->stopRecording());
        QVERIFY(r.paths().isEmpty());
        QCOMPARE(r.coordinator->statusText(), status);
        QCOMPARE(r.overlay.state(), QStringLiteral("hidden"));
    }
};

QTEST_GUILESS_MAIN(TestPipelines)
#include "tst_pipelines.moc"
