// The stand-in backend's speech recognition and its predictable rewrites: spoken sentences come back as
// formatted text on both transcription endpoints, a spoken AI Mode instruction rewrites the selection, audio
// in another format is refused with a reason, the format and refine endpoints rewrite as documented, and
// concurrent requests share the one decoder.

#include "FliteSpeech.h"
#include "StandinBackend.h"
#include "StandinRewrite.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

#include <future>

using standin::StandinBackend;

Q_DECLARE_METATYPE(std::string)

namespace {

struct Reply {
    int status = 0;
    std::string body;
    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

const std::string kBoundary = "Boundary-5C8E1D7A-0000-4000-8000-000000000001";

std::string multipart(const std::vector<std::pair<std::string, std::string>>& fields,
                      const std::string& audio) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                value + "\r\n";
    }
    body += "--" + kBoundary +
            "\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"clip.wav\"\r\nContent-Type: "
            "audio/wav\r\n\r\n" +
            audio + "\r\n--" + kBoundary + "--\r\n";
    return body;
}

// A WAV header with the given format fields, then `dataBytes` of silence.
std::string wavFile(quint16 format, quint16 channels, quint32 rate, quint16 bits, quint32 dataBytes) {
    QByteArray h("RIFF");
    const auto u32 = [&h](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        h.append(b, 4);
    };
    const auto u16 = [&h](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        h.append(b, 2);
    };
    u32(36 + dataBytes);
    h.append("WAVEfmt ");
    u32(16);
    u16(format);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(quint16(channels * bits / 8));
    u16(bits);
    h.append("data");
    u32(dataBytes);
    return h.toStdString() + std::string(dataBytes, '\0');
}

std::string json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

class TestStandinSpeech : public QObject {
    Q_OBJECT

private:
    StandinBackend backend;
    QTemporaryDir dir;

    Reply post(const std::string& path, const std::string& body, const std::string& type) {
        httplib::Client c("127.0.0.1", backend.port());
        c.set_read_timeout(60, 0);
        const auto r = c.Post(path.c_str(), body, type.c_str());
        return r ? Reply{r->status, r->body} : Reply{};
    }
    Reply transcribe(const std::string& path, std::vector<std::pair<std::string, std::string>> fields,
                     const std::string& audio) {
        fields.emplace_back("session_token", backend.openSession());
        return post(path, multipart(fields, audio), "multipart/form-data; boundary=" + kBoundary);
    }
    Reply postJson(const std::string& path, const QJsonObject& body) {
        return post(path, json(body), "application/json");
    }
    std::string speech(const QString& sentence) {
        static int count = 0;
        const QByteArray wav = testspeech::speak(sentence, dir.path(), QString::number(++count));
        if (wav.isEmpty()) {
            qFatal("flite or sox could not make the speech clip");
        }
        return wav.toStdString();
    }

private slots:
    void initTestCase() { QVERIFY(backend.start() > 0); }
    void cleanup() { backend.reset(); }

    // The recogniser's words formatted as a service's transcript: sentence case, "I", and a final mark.
    void formatsRecognisedWords_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* words, const char* expected) {
            QTest::newRow(name) << QString::fromUtf8(words) << QString::fromUtf8(expected);
        };
        row("nothing", "", "");
        row("blanks", "   ", "");
        row("statement", "hello world", "Hello world.");
        row("blanks collapsed", "  we   need more time ", "We need more time.");
        row("the pronoun", "i think i can", "I think I can.");
        row("its contractions", "i'm sure i'll know what i've got if i'd seen it",
            "I'm sure I'll know what I've got if I'd seen it.");
        row("words starting with i stay", "it is in the inbox if it's ideal",
            "It is in the inbox if it's ideal.");
        row("numbers as spoken", "twenty five people came at three", "Twenty five people came at three.");
        row("question word", "what time is it", "What time is it?");
        row("question word alone", "why", "Why?");
        row("question word then a verb", "where is the station", "Where is the station?");
        row("question word then a subject opens a clause", "when you get there call me",
            "When you get there call me.");
        row("auxiliary", "is this ready", "Is this ready?");
        row("auxiliary then the pronoun", "can i help", "Can I help?");
        row("negated auxiliary", "doesn't it work", "Doesn't it work?");
        row("do with a subject", "do you have a minute", "Do you have a minute?");
        row("do as a command", "do it now", "Do it now.");
        row("have as a command", "have a look", "Have a look.");
        row("don't as a command", "don't forget the milk", "Don't forget the milk.");
        row("don't with a subject", "don't you think so", "Don't you think so?");
        row("have with a subject", "have you seen it", "Have you seen it?");
        row("question word later", "tell me what you think", "Tell me what you think.");
        row("a mark already there stays", "stop!", "Stop!");
    }
    void formatsRecognisedWords() {
        QFETCH(QString, words);
        QFETCH(QString, expected);
        QCOMPARE(standin::formatTranscript(words), expected);
    }

    void recognisesSpokenSentences_data() {
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two words") << "hello world"
                                   << "Hello world.";
        QTest::newRow("a sentence") << "we need more time to finish the project"
                                    << "We need more time to finish the project.";
        QTest::newRow("the pronoun") << "i think we should go"
                                     << "I think we should go.";
        QTest::newRow("a question") << "do you have a minute"
                                    << "Do you have a minute?";
    }
    void recognisesSpokenSentences() {
        QFETCH(QString, sentence);
        QFETCH(QString, expected);
        const std::string clip = speech(sentence);
        const std::string token = backend.openSession();
        const std::string type = "multipart/form-data; boundary=" + kBoundary;

        const Reply plain = post("/api/transcription", multipart({{"session_token", token}}, clip), type);
        QCOMPARE(plain.status, 200);
        const qint64 words = sentence.split(' ').size();
        QCOMPARE(plain.json().value("text").toString(), expected);
        QCOMPARE(plain.json().value("words").toInteger(), words);
        QCOMPARE(plain.json().value("session").toObject().value("total_words").toInteger(), words);
        QVERIFY(plain.json().value("session").toObject().value("total_minutes").toDouble() > 0);

        // The combined call in e-mail mode: the same text, already tidy; the transcript beside it.
        const Reply refined =
            post("/api/transcription/refine",
                 multipart({{"session_token", token}, {"refinement_mode", "email"}}, clip), type);
        QCOMPARE(refined.status, 200);
        QCOMPARE(refined.json().value("text").toString(), expected);
        QCOMPARE(refined.json().value("transcript_text").toString(), expected);
        QCOMPARE(refined.json().value("refinement_mode").toString(), QStringLiteral("email"));
        QCOMPARE(refined.json().value("session").toObject().value("total_words").toInteger(), 2 * words);
    }

    // AI Mode: with a selection, the spoken instruction is heard against the grammar of the instructions
    // the stand-in applies; speech outside it falls back to free dictation and leaves the selection as it is.
    void spokenInstructionsRewriteTheSelection_data() {
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("heardAs");
        QTest::newRow("make it upper case") << "make it upper case"
                                            << "draft text for the team"
                                            << "DRAFT TEXT FOR THE TEAM"
                                            << "Make it upper case."
                                            << "grammar";
        QTest::newRow("lower case") << "lower case"
                                    << "LOUD NEWS"
                                    << "loud news"
                                    << "Lower case."
                                    << "grammar";
        QTest::newRow("all caps") << "make it all caps"
                                  << "quiet"
                                  << "QUIET"
                                  << "Make it all caps."
                                  << "grammar";
        QTest::newRow("change it to lower case") << "change it to lower case"
                                                 << "Mixed Case"
                                                 << "mixed case"
                                                 << "Change it to lower case."
                                                 << "grammar";
        QTest::newRow("capitalize each word") << "capitalize each word"
                                              << "the quick brown fox"
                                              << "The Quick Brown Fox"
                                              << "Capitalize each word."
                                              << "grammar";
        QTest::newRow("title case") << "make it title case"
                                    << "a tale of TWO cities"
                                    << "A Tale Of Two Cities"
                                    << "Make it title case."
                                    << "grammar";
        // Sentences that sound close to a phrase of the grammar, and one far from all of them.
        QTest::newRow("near miss") << "turn this into a list"
                                   << "draft text"
                                   << "draft text"
                                   << "Turn this into a list."
                                   << "dictation";
        QTest::newRow("another near miss") << "put it in italics"
                                           << "draft text"
                                           << "draft text"
                                           << "Put it in italics."
                                           << "dictation";
        QTest::newRow("dictation") << "we need more time to finish the project"
                                   << "draft text"
                                   << "draft text"
                                   << "We need more time to finish the project."
                                   << "dictation";
    }
    void spokenInstructionsRewriteTheSelection() {
        QFETCH(QString, sentence);
        QFETCH(QString, selection);
        QFETCH(QString, expected);
        QFETCH(QString, transcript);
        QFETCH(QString, heardAs);
        const std::string clip = speech(sentence);
        const Reply r =
            transcribe("/api/transcription/refine",
                       {{"refinement_mode", "generic"}, {"selected_text", selection.toStdString()}}, clip);
        QCOMPARE(r.status, 200);
        const QJsonObject metadata = r.json().value("provider_metadata").toObject();
        const QString heard = QStringLiteral("heard as %1, phrase \"%2\", confidence %3")
                                  .arg(metadata.value("instruction_heard_as").toString(),
                                       metadata.value("instruction_phrase").toString())
                                  .arg(metadata.value("instruction_confidence").toDouble());
        QVERIFY2(metadata.value("instruction_heard_as").toString() == heardAs, qPrintable(heard));
        QCOMPARE(r.json().value("transcript_text").toString(), transcript);
        QCOMPARE(r.json().value("text").toString(), expected);
        qInfo("%s: %s", qPrintable(sentence), qPrintable(heard));

        // Without a selection the speech is plain dictation: the grammar is not consulted.
        const Reply plain = transcribe("/api/transcription/refine", {{"refinement_mode", "generic"}}, clip);
        QCOMPARE(plain.status, 200);
        QVERIFY(!plain.json().value("provider_metadata").toObject().contains("instruction_heard_as"));
    }

    void silenceIsNoWords() {
        const Reply r = transcribe("/api/transcription", {}, wavFile(1, 1, 16000, 16, 32000));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("text").toString(), QString());
        QCOMPARE(r.json().value("words").toInteger(-1), 0);
    }

    void refusesAudioItCannotDecode_data() {
        QTest::addColumn<std::string>("audio");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << std::string() << "not a RIFF/WAVE file";
        QTest::newRow("raw samples") << std::string(32000, 'x') << "not a RIFF/WAVE file";
        QTest::newRow("44.1 kHz") << wavFile(1, 1, 44100, 16, 100) << "sample rate is 44100 Hz";
        QTest::newRow("stereo") << wavFile(1, 2, 16000, 16, 100) << "2 channels";
        QTest::newRow("8 bits") << wavFile(1, 1, 16000, 8, 100) << "8 bits";
        QTest::newRow("float") << wavFile(3, 1, 16000, 32, 100) << "not PCM";
        QTest::newRow("no data chunk") << wavFile(1, 1, 16000, 16, 0).substr(0, 36) << "no data chunk";
        QTest::newRow("truncated format")
            << std::string("RIFF\x10\0\0\0WAVEfmt \x10\0\0\0\x01\0", 22) << "format chunk is too short";
    }
    void refusesAudioItCannotDecode() {
        QFETCH(std::string, audio);
        QFETCH(QString, reason);
        for (const std::string path : {"/api/transcription", "/api/transcription/refine"}) {
            const Reply r = transcribe(path, {}, audio);
            QCOMPARE(r.status, 400);
            const QString text = QString::fromStdString(r.body);
            QVERIFY2(text.startsWith("audio must be a 16 kHz mono 16-bit PCM WAV file: "), qPrintable(text));
            QVERIFY2(text.contains(reason), qPrintable(text));
        }
    }

    // A scripted transcript stands in for recognition, whatever the audio.
    void scriptedTranscriptSkipsRecognition() {
        backend.setTranscript("scripted words here");
        const Reply r = transcribe("/api/transcription", {}, "not audio at all");
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("text").toString(), QStringLiteral("scripted words here"));
    }

    void rewrites_data() {
        QTest::addColumn<std::string>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QJsonValue>("selection");
        QTest::addColumn<QString>("expected");
        const QJsonValue none = QJsonValue::Undefined;
        QTest::newRow("email tidied")
            << std::string("/api/format/email") << "  see you at noon " << none << "See you at noon.";
        QTest::newRow("email keeps its end mark")
            << std::string("/api/format/email") << "are you there?" << none << "Are you there?";
        QTest::newRow("email empty") << std::string("/api/format/email") << "" << none << "";
        QTest::newRow("upper case") << std::string("/api/format/generic") << "make this upper case"
                                    << QJsonValue("draft text") << "DRAFT TEXT";
        QTest::newRow("lower case") << std::string("/api/format/generic") << "Lower Case please"
                                    << QJsonValue("LOUD") << "loud";
        QTest::newRow("all caps") << std::string("/api/format/generic") << "Make it all caps."
                                  << QJsonValue("quiet words") << "QUIET WORDS";
        QTest::newRow("small letters")
            << std::string("/api/format/generic") << "small letters" << QJsonValue("Big NEWS") << "big news";
        QTest::newRow("title case") << std::string("/api/format/generic") << "capitalize every word"
                                    << QJsonValue("the fox's TAIL, o'neil and 3d art")
                                    << "The Fox's Tail, O'neil And 3d Art";
        QTest::newRow("other instruction echoes the selection")
            << std::string("/api/format/generic") << "make it formal" << QJsonValue("hey") << "hey";
        QTest::newRow("no selection: the instruction tidied")
            << std::string("/api/format/generic") << "write a short poem" << none << "Write a short poem.";
        QTest::newRow("empty selection counts as none")
            << std::string("/api/format/generic") << "upper case" << QJsonValue("") << "UPPER CASE";
    }
    void rewrites() {
        QFETCH(std::string, path);
        QFETCH(QString, text);
        QFETCH(QJsonValue, selection);
        QFETCH(QString, expected);
        QJsonObject body{{"text", text}, {"verbatim", false}};
        if (!selection.isUndefined()) {
            body.insert("selected_text", selection);
        }
        const Reply r = postJson(path, body);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("text").toString(), expected);

        // The combined endpoint rewrites the same way in its generic mode.
        if (path == "/api/format/generic") {
            backend.setTranscript(text.toStdString());
            std::vector<std::pair<std::string, std::string>> fields{{"refinement_mode", "generic"}};
            if (selection.isString()) {
                fields.emplace_back("selected_text", selection.toString().toStdString());
            }
            const Reply refined =
                transcribe("/api/transcription/refine", fields, wavFile(1, 1, 16000, 16, 3200));
            QCOMPARE(refined.json().value("text").toString(), expected);
            QCOMPARE(refined.json().value("transcript_text").toString(), text);
        }
    }

    void concurrentRequestsShareOneDecoder() {
        const std::string clip = speech("hello world");
        std::vector<std::future<Reply>> replies;
        for (int i = 0; i < 3; ++i) {
            replies.push_back(std::async(
                std::launch::async, [this, &clip] { return transcribe("/api/transcription", {}, clip); }));
        }
        for (auto& reply : replies) {
            const Reply r = reply.get();
            QCOMPARE(r.status, 200);
            QCOMPARE(r.json().value("text").toString(), QStringLiteral("Hello world."));
        }
    }
};

QTEST_GUILESS_MAIN(TestStandinSpeech)
#include "tst_standin_speech.moc"
