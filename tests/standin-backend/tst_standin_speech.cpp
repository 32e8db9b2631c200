// The stand-in backend's speech recognition and its predictable rewrites: spoken sentences come back as
// text on both transcription endpoints, audio in another format is refused with a reason, the format and
// refine endpoints rewrite as documented, and concurrent requests share the one decoder.

#include "FliteSpeech.h"
#include "StandinBackend.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

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

    void recognisesSpokenSentences_data() {
        QTest::addColumn<QString>("sentence");
        QTest::newRow("two words") << "hello world";
        QTest::newRow("a sentence") << "we need more time to finish the project";
    }
    void recognisesSpokenSentences() {
        QFETCH(QString, sentence);
        const std::string clip = speech(sentence);
        const std::string token = backend.openSession();
        const std::string type = "multipart/form-data; boundary=" + kBoundary;

        const Reply plain = post("/api/transcription", multipart({{"session_token", token}}, clip), type);
        QCOMPARE(plain.status, 200);
        const qint64 words = sentence.split(' ').size();
        QCOMPARE(plain.json().value("text").toString(), sentence);
        QCOMPARE(plain.json().value("words").toInteger(), words);
        QCOMPARE(plain.json().value("session").toObject().value("total_words").toInteger(), words);
        QVERIFY(plain.json().value("session").toObject().value("total_minutes").toDouble() > 0);

        // The combined call in e-mail mode: the same words, tidied; the plain transcript beside them.
        const Reply refined =
            post("/api/transcription/refine",
                 multipart({{"session_token", token}, {"refinement_mode", "email"}}, clip), type);
        QCOMPARE(refined.status, 200);
        QString tidied = sentence + '.';
        tidied[0] = tidied[0].toUpper();
        QCOMPARE(refined.json().value("text").toString(), tidied);
        QCOMPARE(refined.json().value("transcript_text").toString(), sentence);
        QCOMPARE(refined.json().value("refinement_mode").toString(), QStringLiteral("email"));
        QCOMPARE(refined.json().value("session").toObject().value("total_words").toInteger(), 2 * words);
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
            QCOMPARE(r.json().value("text").toString(), QStringLiteral("hello world"));
        }
    }
};

QTEST_GUILESS_MAIN(TestStandinSpeech)
#include "tst_standin_speech.moc"
