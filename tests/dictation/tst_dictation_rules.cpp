// The small rules around a transcription: which model transcribes a recording and how it is labelled, when
// the target is an e-mail composer, the e-mail formatter's fallbacks, and the user's output options.

#include "BackendClient.h"
#include "DictationFakes.h"
#include "FailureWording.h"
#include "ModelRouting.h"
#include "OutputPostProcessing.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"

#include <QTest>

using namespace fakes;

Q_DECLARE_METATYPE(RecordingMode)

class TestDictationRules : public QObject {
    Q_OBJECT

private slots:
    // A failed trip to the backend is told by what happened, with what the user can do.
    void failureWording_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("told");
        const QString later =
            QStringLiteral("Your recording is kept: press Retry Last Submission on Home in a moment.");
        QTest::newRow("unreachable")
            << 0
            << "Quillvane could not reach its service. Check your internet connection, "
               "then press Retry Last Submission on Home. Your recording is kept.";
        QTest::newRow("timed out") << 1 << "The Quillvane service did not answer in time. " + later;
        QTest::newRow("503 with words") << 2
                                        << "The Quillvane service had a problem (HTTP 503: down for "
                                           "maintenance). " +
                                               later;
        QTest::newRow("502 with a web page")
            << 3 << "The Quillvane service had a problem (HTTP 502). " + later;
        QTest::newRow("400") << 4
                             << "The Quillvane service refused the request (HTTP 400: audio too long). Your "
                                "recording is kept: press Retry Last Submission on Home.";
        QTest::newRow("429") << 5 << "The Quillvane service is busy (HTTP 429). " + later;
        QTest::newRow("undecodable") << 6
                                     << "The Quillvane service sent an answer that could not be read. " +
                                            later;
        QTest::newRow("another error") << 7 << "The recording could not be read.";
    }
    void failureWording() {
        QFETCH(int, kind);
        QFETCH(QString, told);
        std::exception_ptr error;
        switch (kind) {
        case 0:
            error = std::make_exception_ptr(BackendTransportError(
                QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused"), false));
            break;
        case 1:
            error = std::make_exception_ptr(BackendTransportError(QNetworkReply::OperationCanceledError,
                                                                  QStringLiteral("cancelled"), true));
            break;
        case 2:
            error = std::make_exception_ptr(
                BackendClientError::httpError(503, QStringLiteral("down for maintenance")));
            break;
        case 3:
            error = std::make_exception_ptr(
                BackendClientError::httpError(502, QStringLiteral("<html><body>Bad gateway</body></html>")));
            break;
        case 4:
            error =
                std::make_exception_ptr(BackendClientError::httpError(400, QStringLiteral("audio too long")));
            break;
        case 5:
            error = std::make_exception_ptr(BackendClientError::httpError(429, QStringLiteral("slow down")));
            break;
        case 6:
            error = std::make_exception_ptr(BackendClientError::decodingFailed());
            break;
        default:
            error =
                std::make_exception_ptr(fakes::TestError(QStringLiteral("The recording could not be read.")));
        }
        QCOMPARE(FailureWording::describe(error), told);
    }

    // ---- Model routing ------------------------------------------------------------------------------------

    void tierToModel_data() {
        QTest::addColumn<QString>("tier");
        QTest::addColumn<QString>("model");
        QTest::newRow("balanced, blanks and capital") << " Tidewell \n"
                                                      << "nova-3";
        QTest::newRow("fast") << "ZEPHYRIX"
                              << "whisper-large-v3-turbo";
        QTest::newRow("capable") << "keystoner"
                                 << "gpt-4o-transcribe";
        QTest::newRow("capable, long name") << "Keystoner Deck"
                                            << "gpt-4o-transcribe";
        QTest::newRow("model name passes") << "nova-3"
                                           << "nova-3";
        QTest::newRow("anything else untouched") << " Some-Model "
                                                 << " Some-Model ";
    }
    void tierToModel() {
        QFETCH(QString, tier);
        QFETCH(QString, model);
        QCOMPARE(ModelRouting::normalizedTranscriptionModel(tier), model);
    }

    void modelForTheRecording_data() {
        QTest::addColumn<QString>("tier");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("verbatim");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<std::optional<double>>("duration");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("log");
        using D = std::optional<double>;
        const auto T = RecordingMode::Transcription;
        const auto A = RecordingMode::SmartEdit;
        const auto N = RecordingMode::Note;
        const QString fast = "whisper-large-v3-turbo";
        QTest::newRow("balanced, 3.0 s")
            << "tidewell"
            << "general"
            << "off" << T << D(3.0) << fast
            << QStringList{"INFO Auto-routing short clip to Zephyrix duration=3.00s "
                           "configured_model=nova-3 cutoff=3.00s"};
        QTest::newRow("balanced, 3.01 s") << " Tidewell "
                                          << "general"
                                          << "off" << T << D(3.01) << "nova-3" << QStringList{};
        QTest::newRow("balanced, 0 s") << "tidewell"
                                       << "general"
                                       << "off" << T << D(0.0) << "nova-3" << QStringList{};
        QTest::newRow("balanced, no duration") << "tidewell"
                                               << "general"
                                               << "off" << T << D() << "nova-3" << QStringList{};
        QTest::newRow("stored nova-3 counts as balanced")
            << "nova-3"
            << "general"
            << "off" << T << D(2.0) << fast
            << QStringList{"INFO Auto-routing short clip to Zephyrix "
                           "duration=2.00s configured_model=nova-3 "
                           "cutoff=3.00s"};
        QTest::newRow("fast tier, no log") << "zephyrix"
                                           << "general"
                                           << "off" << T << D(1.0) << fast << QStringList{};
        QTest::newRow("capable tier is never moved")
            << "keystoner"
            << "general"
            << "off" << T << D(1.0) << "gpt-4o-transcribe" << QStringList{};
        QTest::newRow("verbatim, medical dictation")
            << "keystoner"
            << "medical"
            << "strict" << T << D(1.0) << "nova-3-medical" << QStringList{};
        QTest::newRow("verbatim, legal voice note") << "zephyrix"
                                                    << "legal"
                                                    << "strict" << N << D(2.0) << "nova-3" << QStringList{};
        QTest::newRow("verbatim in another case still applies")
            << "zephyrix"
            << "general"
            << "Off" << T << D(1.0) << "nova-3" << QStringList{};
        QTest::newRow("verbatim, medical, AI Mode")
            << "tidewell"
            << "medical"
            << "strict" << A << D(1.0) << fast
            << QStringList{"INFO Auto-routing AI Mode transcription to "
                           "Zephyrix configured_model=nova-3"};
        QTest::newRow("AI Mode on the fast tier, no log") << "zephyrix"
                                                          << "general"
                                                          << "off" << A << D() << fast << QStringList{};
        QTest::newRow("voice note, 2 s") << "tidewell"
                                         << "general"
                                         << "off" << N << D(2.0) << "nova-3" << QStringList{};
    }
    void modelForTheRecording() {
        QFETCH(QString, tier);
        QFETCH(QString, domain);
        QFETCH(QString, verbatim);
        QFETCH(RecordingMode, mode);
        QFETCH(std::optional<double>, duration);
        QFETCH(QString, model);
        QFETCH(QStringList, log);
        RuntimeLogCapture capture;
        QCOMPARE(ModelRouting::effectiveTranscriptionModel({tier, domain, verbatim, mode}, duration), model);
        QCOMPARE(capture.entries(), log);
    }

    void publicLabels_data() {
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<QString>("label");
        using S = std::optional<QString>;
        QTest::newRow("absent") << S() << "Quillvane";
        QTest::newRow("blank") << S("  \n") << "Quillvane";
        QTest::newRow("Nova-3") << S("Nova-3") << "Tidewell";
        QTest::newRow("deepgram") << S(" deepgram ") << "Tidewell";
        QTest::newRow("medical") << S("nova-3-medical") << "Tidewell";
        QTest::newRow("groq") << S("groq") << "Zephyrix";
        QTest::newRow("whisper") << S("whisper-large-v3") << "Zephyrix";
        QTest::newRow("openai") << S("OpenAI") << "Keystoner Deck";
        QTest::newRow("mini") << S("gpt-4o-mini-transcribe") << "Keystoner Deck";
        QTest::newRow("tier name") << S("Keystoner Deck") << "Keystoner Deck";
        QTest::newRow("another version") << S("nova-4") << "Quillvane";
    }
    void publicLabels() {
        QFETCH(std::optional<QString>, name);
        QFETCH(QString, label);
        QCOMPARE(ModelRouting::publicModelLabel(name), label);
    }

    // ---- E-mail context -----------------------------------------------------------------------------------

    // A mail client by its name or class, or a browser showing mail; never a terminal, an editor or a chat,
    // whatever their titles say, and never a voice note.
    void emailContext_data() {
        QTest::addColumn<QString>("app");
        QTest::addColumn<std::optional<QString>>("windowClass");
        QTest::addColumn<QString>("title");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<bool>("email");
        using S = std::optional<QString>;
        const auto T = RecordingMode::Transcription;
        // Mail clients, whatever the window shows.
        QTest::newRow("Thunderbird") << "Thunderbird" << S("thunderbird") << "Write: Weekly update" << T
                                     << true;
        QTest::newRow("Thunderbird Mail, no class") << "Thunderbird Mail" << S() << "Calendar" << T << true;
        QTest::newRow("Evolution by its reverse-DNS class")
            << "Groupware Suite" << S("org.gnome.Evolution") << "Compose Message" << T << true;
        QTest::newRow("Geary") << "Geary" << S("Geary") << "Drafts" << T << true;
        QTest::newRow("KMail") << "KMail" << S("org.kde.kmail2") << "Composer" << T << true;
        QTest::newRow("Claws Mail") << "Claws Mail" << S("Claws-mail") << "Compose message" << T << true;
        QTest::newRow("Mailspring") << "Mailspring" << S("Mailspring") << "Mailspring" << T << true;
        QTest::newRow("Betterbird") << "Betterbird" << S("eu.betterbird.Betterbird") << "Write" << T << true;
        QTest::newRow("Proton Mail desktop") << "Proton Mail" << S("Proton Mail") << "Inbox" << T << true;
        QTest::newRow("web app window named Gmail") << "Gmail" << S("Google-chrome") << "Gmail" << T << true;
        QTest::newRow("application named Mail") << "Mail" << S("com.apple.mail") << "Drafts" << T << true;
        QTest::newRow("mail only as one word of a name")
            << "Mail Merge" << S("mail-merge") << "Letters" << T << false;
        QTest::newRow("AI Mode counts")
            << "Thunderbird" << S() << "Write" << RecordingMode::SmartEdit << true;
        QTest::newRow("voice note in a mail client")
            << "Thunderbird" << S("thunderbird") << "Write" << RecordingMode::Note << false;
        // Browsers: web mail services and mail words in the title, as whole words.
        QTest::newRow("Firefox on Gmail")
            << "Firefox Web Browser" << S("firefox") << "Inbox (3) - jane@gmail.com - Gmail — Mozilla Firefox"
            << T << true;
        QTest::newRow("Chrome on Outlook") << "Google Chrome" << S("Google-chrome")
                                           << "Mail - Jane Doe - Outlook - Google Chrome" << T << true;
        QTest::newRow("Epiphany on hey.com")
            << "Web" << S("org.gnome.Epiphany") << "app.hey.com" << T << true;
        QTest::newRow("Vivaldi composing in a webmail")
            << "Vivaldi" << S("Vivaldi-stable") << "Compose - Roundcube Webmail" << T << true;
        QTest::newRow("Firefox ESR, INBOX") << "Firefox ESR" << S("firefox-esr") << "INBOX (3)" << T << true;
        QTest::newRow("browser tab on evolution")
            << "Firefox Web Browser" << S("firefox") << "Evolution of birds - Wikipedia — Mozilla Firefox"
            << T << false;
        QTest::newRow("browser title with longer words")
            << "Chromium" << S("Chromium") << "Frontend inboxes: replying to emails - Chromium" << T << false;
        QTest::newRow("mail words in a title, not a browser")
            << "Document Viewer" << S("Evince") << "Inbox - Gmail.pdf" << T << false;
        // Terminals, editors and chats are not written to as e-mail.
        QTest::newRow("terminal in ~/frontend")
            << "Terminal" << S("Gnome-terminal") << "jane@host: ~/frontend" << T << false;
        QTest::newRow("mutt in a terminal")
            << "Konsole" << S("konsole") << "mutt: Inbox - reply" << T << false;
        QTest::newRow("VS Code on frontend")
            << "Visual Studio Code" << S("Code") << "frontend/app.ts - Visual Studio Code" << T << false;
        QTest::newRow("editor titled Reply") << "Kate" << S("kate") << "Reply to review.txt" << T << false;
        QTest::newRow("IDE on a mail module")
            << "IntelliJ IDEA" << S("jetbrains-idea") << "thunderbird-sync – Inbox.java" << T << false;
        QTest::newRow("chat titled Reply")
            << "Slack" << S("Slack") << "Reply in thread - Slack" << T << false;
    }
    void emailContext() {
        QFETCH(QString, app);
        QFETCH(std::optional<QString>, windowClass);
        QFETCH(QString, title);
        QFETCH(RecordingMode, mode);
        QFETCH(bool, email);
        const ActiveAppContext context{app, windowClass, title, std::nullopt, app};
        QCOMPARE(OutputPostProcessing::isEmailContext(context, mode), email);
    }

    void emailFormatting_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("app");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<std::optional<QString>>("answer"); // none: the formatter fails
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("log");
        using S = std::optional<QString>;
        const QString spoken = "  hi sam see you friday \n";
        const QStringList asked{"INFO Email context detected. Applying backend email formatter."};
        QTest::newRow("not an e-mail") << spoken << "Kate" << false << S("Hi Sam") << spoken << QStringList{};
        QTest::newRow("formatting off")
            << spoken << "Geary" << true << S("Hi Sam") << spoken << QStringList{};
        QTest::newRow("blank text") << " \n "
                                    << "Geary" << false << S("Hi Sam") << " \n " << QStringList{};
        QTest::newRow("formatted") << spoken << "Geary" << false << S("\nHi Sam,\n\nSee you Friday.\n")
                                   << "Hi Sam,\n\nSee you Friday."
                                   << asked + QStringList{"INFO Email formatter applied chars_before=21 "
                                                          "chars_after=24"};
        QTest::newRow("same apart from blanks")
            << spoken << "Geary" << false << S(" hi sam see you friday ") << spoken
            << asked + QStringList{"INFO Email formatter returned unchanged output"};
        QTest::newRow("blank answer")
            << spoken << "Geary" << false << S("   ") << spoken
            << asked + QStringList{"INFO Email formatter returned unchanged output"};
        QTest::newRow("formatter fails")
            << spoken << "Geary" << false << S() << spoken
            << asked + QStringList{"ERROR Email formatter failed: Request timed out."};
    }
    void emailFormatting() {
        QFETCH(QString, text);
        QFETCH(QString, app);
        QFETCH(bool, disabled);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, result);
        QFETCH(QStringList, log);
        RuntimeLogCapture capture;
        FakeSettings settings;
        settings.disableEmail = disabled;
        QList<FormatEmailRequestDTO> requests;
        OutputPostProcessing::EmailFormatter formatter =
            [&requests, answer](FormatEmailRequestDTO request) -> QCoro::Task<FormatResponseDTO> {
            requests << request;
            if (!answer) {
                throw TestError(QStringLiteral("Request timed out."));
            }
            co_return FormatResponseDTO{*answer};
        };
        const ActiveAppContext context{app, std::nullopt, QStringLiteral("Draft"), std::nullopt, app};
        QCOMPARE(runTask(OutputPostProcessing::applyPostProcessing(text, context, QStringLiteral("tok"),
                                                                   RecordingMode::Transcription, settings,
                                                                   formatter)),
                 result);
        QCOMPARE(capture.entries(), log);
        QCOMPARE(requests.size(), log.isEmpty() ? 0 : 1);
        if (!requests.isEmpty()) {
            QCOMPARE(requests[0].session_token, QStringLiteral("tok"));
            QCOMPARE(requests[0].id_token, std::nullopt);
            QCOMPARE(requests[0].text, QStringLiteral("hi sam see you friday"));
        }
    }

    // ---- Output options -----------------------------------------------------------------------------------

    void outputOptions_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("lowercase");
        QTest::addColumn<bool>("autoSpace");
        QTest::addColumn<QString>("output");
        QTest::newRow("full stop gets a blank") << "Done." << false << true << "Done. ";
        QTest::newRow("each end mark") << "Why?" << false << true << "Why? ";
        QTest::newRow("colon") << "Items:" << false << true << "Items: ";
        QTest::newRow("semicolon") << "a;" << false << true << "a; ";
        QTest::newRow("letter") << "Done" << false << true << "Done";
        QTest::newRow("blank already") << "Done. " << false << true << "Done. ";
        QTest::newRow("line break") << "Done.\n" << false << true << "Done.\n";
        QTest::newRow("closing quote") << "\"Done.\"" << false << true << "\"Done.\"";
        QTest::newRow("auto space off") << "Done." << false << false << "Done.";
        QTest::newRow("lower case and blank") << "Ship It Now!" << true << true << "ship it now! ";
        QTest::newRow("lower case, accents") << "ÉTÉ À PARIS" << true << false << "été à paris";
        QTest::newRow("empty") << "" << true << true << "";
    }
    void outputOptions() {
        QFETCH(QString, text);
        QFETCH(bool, lowercase);
        QFETCH(bool, autoSpace);
        QFETCH(QString, output);
        QCOMPARE(OutputPostProcessing::prepareOutputText(text, lowercase, autoSpace), output);
    }
};

QTEST_GUILESS_MAIN(TestDictationRules)
#include "tst_dictation_rules.moc"
