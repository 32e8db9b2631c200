#include "StandinBackend.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <cstdint>
#include <future>

using standin::ScriptedResponse;
using standin::StandinBackend;

namespace {

struct Reply {
    int status = 0; // 0: no answer at all
    std::string body;
    std::string contentType;

    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

Reply toReply(const httplib::Result& r) {
    if (!r)
        return {};
    return Reply{r->status, r->body, r->get_header_value("Content-Type")};
}

httplib::Client client(int port) {
    httplib::Client c("127.0.0.1", port);
    c.set_url_encode(false); // send paths and queries exactly as written
    // The first recognition loads the speech model: on a loaded machine that is more than the library's
    // 5 s default, and the time is not what these tests check.
    c.set_read_timeout(60, 0);
    return c;
}

std::string json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

// 16 kHz mono 16-bit silence with a 44-byte WAV header.
std::string wav(std::size_t dataBytes) {
    const auto le = [](std::uint32_t v, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += char((v >> (8 * i)) & 0xff);
        return out;
    };
    const std::string header = "RIFF" + le(36 + std::uint32_t(dataBytes), 4) + "WAVEfmt " + le(16, 4) +
                               le(1, 2) + le(1, 2) + le(16000, 4) + le(32000, 4) + le(2, 2) + le(16, 2) +
                               "data" + le(std::uint32_t(dataBytes), 4);
    return header + std::string(dataBytes, '\0');
}

const std::string kBoundary = "Boundary-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
const std::string kMultipartType = "multipart/form-data; boundary=" + kBoundary;

// A body laid out as the desktop client's form-data builder writes it: fields first, then the file part.
std::string multipart(const std::vector<std::pair<std::string, std::string>>& fields,
                      const std::optional<std::string>& audio, const std::string& fileName = "clip.wav") {
    std::string body;
    for (const auto& [name, value] : fields)
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                value + "\r\n";
    if (audio) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"" +
                fileName + "\"\r\nContent-Type: audio/wav\r\n\r\n" + *audio + "\r\n";
    }
    return body + "--" + kBoundary + "--\r\n";
}

} // namespace

class TestStandinBackend : public QObject {
    Q_OBJECT

private:
    StandinBackend backend;

    Reply post(const std::string& path, const std::string& body,
               const std::string& type = "application/json") {
        return toReply(client(backend.port()).Post(path.c_str(), body, type.c_str()));
    }
    Reply get(const std::string& path) { return toReply(client(backend.port()).Get(path.c_str())); }
    Reply transcribe(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields,
                     const std::string& audio) {
        return post(path, multipart(fields, audio), kMultipartType);
    }

private slots:
    void initTestCase() { QVERIFY(backend.start() > 0); }
    void cleanup() { backend.reset(); }

    void sessionOpensRefreshesAndRejects() {
        QJsonObject profile{{"email", "ada@example.invalid"}, {"name", "Ada"}};
        const Reply opened = post("/api/session", json({{"id_token", "idt-1"},
                                                        {"auth_provider", "apple"},
                                                        {"client_platform", "linux"},
                                                        {"profile", profile},
                                                        {"unknown_key", 5}}));
        QCOMPARE(opened.status, 200);
        const QJsonObject o = opened.json();
        const QString token = o.value("session_token").toString();
        QVERIFY(!token.isEmpty());
        QCOMPARE(o.value("total_words").toInteger(-1), 0);
        QCOMPARE(o.value("lifetime_words").toInteger(-1), 0);
        QVERIFY(o.value("total_minutes").isDouble());
        QVERIFY(o.value("lifetime_minutes").isDouble());
        QCOMPARE(o.value("profile").toObject(), profile);

        const Reply refreshed =
            post("/api/session", json({{"session_token", token}, {"force_refresh", true}}));
        QCOMPARE(refreshed.status, 200);
        QCOMPARE(refreshed.json().value("session_token").toString(), token);
        QCOMPARE(refreshed.json().value("profile").toObject(), profile);

        // A second sign-in opens a different session.
        const Reply second = post("/api/session", json({{"id_token", "idt-2"}}));
        QVERIFY(second.json().value("session_token").toString() != token);
        QVERIFY(!second.json().contains("profile"));

        const Reply unknown = post("/api/session", json({{"session_token", "no-such-token"}}));
        QCOMPARE(unknown.status, 401);
        QCOMPARE(unknown.body, std::string("invalid session"));
        QCOMPARE(post("/api/session", "{}").status, 400);
        QCOMPARE(post("/api/session", json({{"id_token", ""}})).status, 400);
    }

    // A refused sign-in says why; sessions already open stay usable, and an empty reason admits again.
    void signInsCanBeRefused() {
        const std::string open = backend.openSession();
        backend.refuseSignIns("This account is not admitted here.");
        const Reply refused = post("/api/session", json({{"id_token", "idt-refused"}}));
        QCOMPARE(refused.status, 403);
        QCOMPARE(refused.body, std::string("This account is not admitted here."));
        QCOMPARE(post("/api/session", json({{"session_token", QString::fromStdString(open)}})).status, 200);
        backend.refuseSignIns({});
        QCOMPARE(post("/api/session", json({{"id_token", "idt-refused"}})).status, 200);
    }

    // Without a scripted transcript the speech is recognised: silence is no words, and audio that is not a
    // 16 kHz mono WAV is refused.
    void transcriptionRecognisesTheClip_data() {
        QTest::addColumn<QByteArray>("audio");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("words");
        QTest::newRow("silent wav, 1.5 s") << QByteArray::fromStdString(wav(48000)) << 200 << "" << qint64(0);
        QTest::newRow("not a wav") << QByteArray(16000, 'x') << 400 << "" << qint64(0);
        QTest::newRow("empty") << QByteArray() << 400 << "" << qint64(0);
    }
    void transcriptionRecognisesTheClip() {
        QFETCH(QByteArray, audio);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(qint64, words);
        const Reply r =
            transcribe("/api/transcription", {{"session_token", backend.openSession()}}, audio.toStdString());
        QCOMPARE(r.status, status);
        if (status != 200) {
            QVERIFY(r.body.find("16 kHz mono") != std::string::npos);
            return;
        }
        QCOMPARE(r.json().value("text").toString(), text);
        QCOMPARE(r.json().value("words").toInteger(), words);
        QCOMPARE(r.json().value("provider").toString(), QString("standin"));
        QVERIFY(!r.json().contains("prompt_used"));
        QCOMPARE(r.json().value("provider_metadata").toObject().value("model").toString(),
                 QString("standin-default"));
    }

    void transcriptionsGrowSessionCounts() {
        const std::string token = backend.openSession();
        backend.setTranscript("one two three");
        const Reply plain =
            transcribe("/api/transcription",
                       {{"session_token", token}, {"prompt", "Spell names carefully"}, {"model", "m1"}},
                       wav(96000)); // 3 s
        QCOMPARE(plain.status, 200);
        QJsonObject o = plain.json();
        QCOMPARE(o.value("text").toString(), QString("one two three"));
        QCOMPARE(o.value("words").toInteger(), 3);
        QCOMPARE(o.value("prompt_used").toString(), QString("Spell names carefully"));
        QCOMPARE(o.value("provider_metadata").toObject().value("model").toString(), QString("m1"));
        QVERIFY(!o.contains("transcript_text"));
        QCOMPARE(o.value("session").toObject().value("total_words").toInteger(), 3);
        QCOMPARE(o.value("session").toObject().value("total_minutes").toDouble(), 0.05);

        backend.setTranscript("four five");
        const Reply refined = transcribe("/api/transcription/refine", {{"session_token", token}}, wav(96000));
        QCOMPARE(refined.status, 200);
        o = refined.json();
        QCOMPARE(o.value("text").toString(), QString("four five"));
        QCOMPARE(o.value("transcript_text").toString(), QString("four five"));
        QCOMPARE(o.value("refinement_mode").toString(), QString("standin"));
        const QJsonObject session = o.value("session").toObject();
        QCOMPARE(session.value("total_words").toInteger(), 5);
        QCOMPARE(session.value("lifetime_words").toInteger(), 5);
        QCOMPARE(session.value("total_minutes").toDouble(), 0.1);
        QCOMPARE(session.value("session_token").toString(), QString::fromStdString(token));

        // The session endpoint reports the same counts.
        const Reply snapshot = post("/api/session", json({{"session_token", QString::fromStdString(token)}}));
        QCOMPARE(snapshot.json().value("total_words").toInteger(), 5);
    }

    void configIsKeptPerSession() {
        const Reply opened = post("/api/session", json({{"id_token", "cfg-id"}}));
        const QString a = opened.json().value("session_token").toString();
        const std::string b = backend.openSession();

        const Reply before = get("/api/user/config?session_token=" + a.toStdString());
        QCOMPARE(before.status, 200);
        QCOMPARE(before.json(), (QJsonObject{{"config", QJsonObject()}}));

        const QJsonObject config{
            {"settings", QJsonObject{{"sound_enabled", false}, {"language", "en"}}},
            {"snippets", QJsonArray{QJsonObject{{"title", "addr"}, {"value", "1 Main St"}}}},
            {"dictionary", QJsonArray{QJsonObject{{"term", "Quillvane"}, {"note", QJsonValue::Null}}}},
        };
        const Reply stored = post("/api/user/config", json({{"session_token", a}, {"config", config}}));
        QCOMPARE(stored.status, 200);
        const QJsonObject expected{
            {"settings", config.value("settings")},
            {"snippets", config.value("snippets")},
            {"dictionary", QJsonArray{QJsonObject{{"term", "Quillvane"}}}}, // a null note is an absent note
        };
        QCOMPARE(stored.json().value("config").toObject(), expected);
        const QString stamp = stored.json().value("last_updated_at").toString();
        QVERIFY(QDateTime::fromString(stamp, Qt::ISODate).isValid());

        // Read back by session token and by the identity token that opened the session.
        for (const std::string& query :
             {"session_token=" + a.toStdString(), std::string("id_token=cfg-id")}) {
            const Reply back = get("/api/user/config?" + query);
            QCOMPARE(back.status, 200);
            QCOMPARE(back.json().value("config").toObject(), expected);
            QCOMPARE(back.json().value("last_updated_at").toString(), stamp);
        }
        QCOMPARE(get("/api/user/config?session_token=" + b).json(), (QJsonObject{{"config", QJsonObject()}}));
    }

    void otherEndpointsAnswerTheirRecords() {
        const QString token = QString::fromStdString(backend.openSession());
        Reply r = post("/api/format/email", json({{"session_token", token}, {"text", "see you at noon"}}));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("text").toString(), QString("See you at noon."));

        r = post("/api/format/generic", json({{"id_token", "any"},
                                              {"text", "make it formal"},
                                              {"verbatim", false},
                                              {"selected_text", "hey"},
                                              {"snippets", QJsonArray()}}));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("text").toString(),
                 QString("hey")); // the selection, as the instruction names no case
        r = post("/api/format/generic", json({{"text", "plain words"}, {"verbatim", true}}));
        QCOMPARE(r.json().value("text").toString(), QString("Plain words."));

        r = post("/api/generate_title", json({{"text", "  buy milk and eggs on the way home"}}));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("title").toString(), QString("buy milk and eggs on"));

        r = get("/api/tutorials");
        QCOMPARE(r.status, 200);
        const QJsonArray tutorials = r.json().value("tutorials").toArray();
        QCOMPARE(tutorials.size(), 3);
        for (const QJsonValue& t : tutorials) {
            for (const char* key : {"key", "title", "description", "url"})
                QVERIFY2(t.toObject().value(key).isString(), key);
        }

        const Reply first = get("/api/auth/apple/start?return_port=50123");
        const Reply second = get("/api/auth/apple/start?return_port=50123");
        QCOMPARE(first.status, 200);
        QVERIFY(first.json().value("auth_url").isString());
        QVERIFY(!first.json().value("state").toString().isEmpty());
        QVERIFY(first.json().value("state") != second.json().value("state"));
    }

    void badInputGetsClearError_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QString js = "application/json";
        const QString mp = QString::fromStdString(kMultipartType);
        const auto bytes = [](const std::string& s) { return QByteArray::fromStdString(s); };
        QTest::newRow("malformed JSON")
            << "POST"
            << "/api/session" << js << QByteArray("{\"id_token\": ") << 400 << "malformed JSON";
        QTest::newRow("empty body") << "POST"
                                    << "/api/format/email" << js << QByteArray() << 400 << "malformed JSON";
        QTest::newRow("array body") << "POST"
                                    << "/api/session" << js << QByteArray("[]") << 400 << "JSON object";
        QTest::newRow("missing member")
            << "POST"
            << "/api/format/email" << js << QByteArray("{\"id_token\":\"x\"}") << 400 << "\"text\"";
        QTest::newRow("null required member")
            << "POST"
            << "/api/generate_title" << js << QByteArray("{\"text\":null}") << 400 << "\"text\"";
        QTest::newRow("wrong kind") << "POST"
                                    << "/api/format/generic" << js
                                    << QByteArray("{\"text\":\"t\",\"verbatim\":\"yes\"}") << 400
                                    << "\"verbatim\" must be a boolean";
        QTest::newRow("wrong kind, optional")
            << "POST"
            << "/api/session" << js << QByteArray("{\"id_token\":\"x\",\"profile\":\"p\"}") << 400
            << "\"profile\" must be an object";
        QTest::newRow("wrong kind, nested")
            << "POST"
            << "/api/user/config" << js
            << QByteArray("{\"config\":{\"snippets\":[{\"title\":1,\"value\":\"v\"}]}}") << 400
            << "\"config.snippets[0].title\" must be a string";
        QTest::newRow("unknown session on format")
            << "POST"
            << "/api/format/email" << js << QByteArray("{\"session_token\":\"nope\",\"text\":\"t\"}") << 401
            << "invalid session";
        QTest::newRow("config without session")
            << "GET"
            << "/api/user/config" << QString() << QByteArray() << 401 << "invalid session";
        QTest::newRow("no audio part")
            << "POST"
            << "/api/transcription" << mp << bytes(multipart({{"session_token", "x"}}, std::nullopt)) << 400
            << "missing audio part";
        QTest::newRow("not multipart")
            << "POST"
            << "/api/transcription/refine" << js << QByteArray("{}") << 400 << "multipart/form-data";
        QTest::newRow("truncated multipart")
            << "POST"
            << "/api/transcription" << mp
            << bytes("--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"audio\"\r\n\r\nabc")
            << 400 << "malformed multipart body";
        QTest::newRow("transcription, no session")
            << "POST"
            << "/api/transcription" << mp << bytes(multipart({}, wav(10))) << 401 << "invalid session";
        QTest::newRow("transcription, unknown session")
            << "POST"
            << "/api/transcription/refine" << mp << bytes(multipart({{"session_token", "nope"}}, wav(10)))
            << 401 << "invalid session";
        QTest::newRow("return_port zero")
            << "GET"
            << "/api/auth/apple/start?return_port=0" << QString() << QByteArray() << 400 << "return_port";
        QTest::newRow("return_port too big")
            << "GET"
            << "/api/auth/apple/start?return_port=65536" << QString() << QByteArray() << 400 << "return_port";
        QTest::newRow("return_port not decimal")
            << "GET"
            << "/api/auth/apple/start?return_port=-5" << QString() << QByteArray() << 400 << "return_port";
        QTest::newRow("return_port missing")
            << "GET"
            << "/api/auth/apple/start" << QString() << QByteArray() << 400 << "return_port";
        QTest::newRow("unknown path")
            << "GET"
            << "/api/nothing-here" << QString() << QByteArray() << 404 << "not found";
        QTest::newRow("wrong method")
            << "GET"
            << "/api/session" << QString() << QByteArray() << 405 << "method not allowed";
        QTest::newRow("over-size body")
            << "POST"
            << "/api/format/email" << js << QByteArray(int(StandinBackend::maxBodyBytes) + 1, ' ') << 413
            << "too large";
    }
    void badInputGetsClearError() {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QString, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, message);

        Reply r;
        if (method == "GET")
            r = get(path.toStdString());
        else
            r = post(path.toStdString(), body.toStdString(), contentType.toStdString());
        QCOMPARE(r.status, status);
        QVERIFY2(r.body.find(message.toStdString()) != std::string::npos, r.body.c_str());
        QCOMPARE(r.contentType, std::string("text/plain"));
        // Every refused request is still recorded, and the server keeps answering.
        QVERIFY(backend.lastRequest(QUrl(path).path().toStdString()).has_value());
        QCOMPARE(get("/api/tutorials").status, 200);
    }

    void scriptedAnswersAreUsedOnceInOrder() {
        backend.scriptNext("/api/generate_title", ScriptedResponse{500, "first", "text/plain"});
        backend.scriptNext("/api/generate_title", ScriptedResponse{200, "{\"title\":\"scripted\"}"});
        const std::string body = json({{"text", "normal handling"}});

        Reply r = post("/api/generate_title", body);
        QCOMPARE(r.status, 500);
        QCOMPARE(r.body, std::string("first"));
        QCOMPARE(r.contentType, std::string("text/plain"));
        r = post("/api/generate_title", body);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.body, std::string("{\"title\":\"scripted\"}"));
        QCOMPARE(r.contentType, std::string("application/json"));
        QCOMPARE(post("/api/generate_title", body).json().value("title").toString(),
                 QString("normal handling"));
        QCOMPARE(backend.received().size(), std::size_t(3));

        // A scripted error with an empty body stays empty.
        backend.scriptNext("/api/tutorials", ScriptedResponse{503, ""});
        r = get("/api/tutorials");
        QCOMPARE(r.status, 503);
        QCOMPARE(r.body, std::string());
    }

    void missingEndpointUntilCleared() {
        const std::string path = "/api/transcription/refine";
        const std::string body = multipart({{"session_token", backend.openSession()}}, wav(3200));
        backend.setMissing(path, 404);
        QCOMPARE(post(path, body, kMultipartType).status, 404);
        backend.setMissing(path, 405);
        QCOMPARE(post(path, body, kMultipartType).status, 405);
        QCOMPARE(post("/api/transcription", body, kMultipartType).status, 200); // other paths unaffected
        backend.setMissing(path, 0);
        QCOMPARE(post(path, body, kMultipartType).status, 200);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, backend.setMissing(path, 500));
    }

    void delayHoldsOnePathAndStopInterruptsIt() {
        StandinBackend own;
        const int port = own.start();
        own.setDelay("/api/tutorials", std::chrono::milliseconds(10));
        QCOMPARE(toReply(client(port).Get("/api/tutorials")).status, 200); // delayed, then answered normally

        own.setDelay("/api/tutorials", std::chrono::hours(1));
        auto pending =
            std::async(std::launch::async, [port] { return toReply(client(port).Get("/api/tutorials")); });
        QTRY_VERIFY_WITH_TIMEOUT(own.lastRequest("/api/tutorials").has_value() && own.received().size() == 2,
                                 30000);
        QCOMPARE(toReply(client(port).Get("/api/auth/apple/start?return_port=1")).status, 200);
        QVERIFY(pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready);

        own.stop(); // must not wait out the hour
        const Reply r = pending.get();
        QVERIFY(r.status != 200);
    }

    void refusesNonLoopbackHost_data() {
        QTest::addColumn<QString>("host");
        for (const char* host :
             {"0.0.0.0", "192.168.1.10", "::", "example.com", "", "127.0.0.1.example.com", "128.0.0.1"})
            QTest::newRow(host) << QString(host);
    }
    void refusesNonLoopbackHost() {
        QFETCH(QString, host);
        StandinBackend other;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, other.start(host.toStdString()));
        QCOMPARE(other.port(), 0);
    }

    void acceptsLocalhost() {
        StandinBackend other;
        const int port = other.start("localhost");
        QCOMPARE(other.baseUrl(), "http://127.0.0.1:" + std::to_string(port));
        QCOMPARE(toReply(client(port).Get("/api/tutorials")).status, 200);
    }

    void recordsRequestsAsSent() {
        QCOMPARE(get("/api/user/config?session_token=a%2Bb%20c&id_token=z+1&flag").status, 401);
        const auto query = backend.lastRequest("/api/user/config");
        QVERIFY(query);
        QCOMPARE(query->method, std::string("GET"));
        QCOMPARE(query->rawQuery, std::string("session_token=a%2Bb%20c&id_token=z+1&flag"));
        const std::vector<std::pair<std::string, std::string>> items{
            {"session_token", "a+b c"}, {"id_token", "z 1"}, {"flag", ""}};
        QCOMPARE(query->queryItems, items);
        QCOMPARE(query->headers.count("remote_addr"), std::size_t(0));

        const std::string token = backend.openSession();
        backend.setTranscript("recorded"); // the audio below is no WAV: no recognition
        const std::string body =
            multipart({{"session_token", token}, {"note", "line one\r\nsaid \"hi\""}, {"empty", ""}},
                      std::string("RIFF\r\n--not-a-boundary\0x", 24), "take 2.wav");
        QCOMPARE(post("/api/transcription", body, kMultipartType).status, 200);
        const auto upload = backend.lastRequest("/api/transcription");
        QVERIFY(upload);
        QCOMPARE(upload->body, body);
        QCOMPARE(upload->headers.at("content-type"), kMultipartType);
        QCOMPARE(upload->headers.at("content-length"), std::to_string(body.size()));
        const std::map<std::string, std::string> fields{
            {"session_token", token}, {"note", "line one\r\nsaid \"hi\""}, {"empty", ""}};
        QCOMPARE(upload->formFields, fields);
        QVERIFY(upload->file);
        QCOMPARE(upload->file->name, std::string("audio"));
        QCOMPARE(upload->file->fileName, std::string("take 2.wav"));
        QCOMPARE(upload->file->contentType, std::string("audio/wav"));
        QCOMPARE(upload->file->content, std::string("RIFF\r\n--not-a-boundary\0x", 24));
        QCOMPARE(backend.received().back().path, std::string("/api/transcription"));
    }

    // Restarted with the token of a session opened by its previous run, the stand-in accepts that token.
    void executableServesUntilTerminated() {
        QProcess process;
        process.start(STANDIN_BACKEND_EXECUTABLE, {"--port", "0", "--session-token", "standin-earlier-run"});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 30000);
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        QVERIFY2(line.startsWith("Stand-in backend listening on http://127.0.0.1:"), qPrintable(line));
        const int port = line.section(':', -1).toInt();
        QCOMPARE(toReply(client(port).Get("/api/tutorials")).status, 200);
        const auto session = [port](const char* token) {
            return toReply(
                client(port).Post("/api/session", json({{"session_token", token}}), "application/json"));
        };
        const Reply adopted = session("standin-earlier-run");
        QCOMPARE(adopted.status, 200);
        QCOMPARE(adopted.json().value("session_token").toString(), QString("standin-earlier-run"));
        QCOMPARE(session("standin-other").status, 401);

        process.terminate();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    void executableRefusesNonLoopbackHost() {
        QProcess process;
        process.start(STANDIN_BACKEND_EXECUTABLE, {"--host", "0.0.0.0", "--port", "0"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("0.0.0.0"));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStandinBackend)
#include "tst_standinbackend.moc"
