// The stand-in under abuse: over-size and malformed framing, failing routes, slow and half-closed
// clients, many connections, and a stop that does not wait for any of them.

#include "HttpServer.h"
#include "RawClient.h"
#include "StandinBackend.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using standin::HttpRequest;
using standin::HttpResponse;
using standin::HttpServer;
using standin::ScriptedResponse;
using standin::StandinBackend;

Q_DECLARE_METATYPE(std::string)

namespace {

constexpr std::size_t kLimit = StandinBackend::maxBodyBytes;

std::string chunked(std::size_t total, std::size_t chunkSize) {
    const std::string chunk(chunkSize, 'c');
    std::string out;
    out.reserve(total + total / chunkSize * 12 + 16);
    char size[32];
    for (std::size_t sent = 0; sent < total; sent += chunkSize) {
        const std::size_t n = std::min(chunkSize, total - sent);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(chunk, 0, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string header(const std::string& path, const std::string& framing) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + framing + "\r\n";
}

int getStatus(int port, const std::string& path) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(20, 0);
    const auto result = client.Get(path.c_str());
    return result ? result->status : 0;
}

// Sends `request` a byte at a time, `gap` apart, until the server answers or everything is sent.
// Returns the answer (empty if none came) and how many bytes went out before it.
std::pair<std::string, std::size_t> trickle(RawClient& client, const std::string& request,
                                            std::chrono::milliseconds gap) {
    for (std::size_t i = 0; i < request.size(); ++i) {
        const std::string answer = client.readAll(gap);
        if (!answer.empty() || client.closedByServer())
            return {answer + client.readAll(), i};
        if (!client.send(request.substr(i, 1)))
            return {client.readAll(), i};
    }
    return {client.readAll(), request.size()};
}

// This process's resident memory.
std::size_t residentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return std::size_t(resident) * std::size_t(::sysconf(_SC_PAGESIZE));
}

} // namespace

class TestStandinHardening : public QObject {
    Q_OBJECT

private:
    StandinBackend backend;

private slots:
    void initTestCase() { QVERIFY(backend.start() > 0); }
    void cleanup() { backend.reset(); }

    // The body limit holds however the body is framed, and a refused body is neither kept nor fatal.
    void bodyLimitHoldsForEveryFraming_data() {
        QTest::addColumn<std::string>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<qsizetype>("recordedBody");

        const std::string path = "/upload";
        QTest::newRow("chunked, at the limit")
            << header(path, "Transfer-Encoding: chunked\r\n") + chunked(kLimit, 1 << 20) << 200
            << qsizetype(kLimit);
        QTest::newRow("chunked, one byte over")
            << header(path, "Transfer-Encoding: chunked\r\n") + chunked(kLimit + 1, 1 << 20) << 413
            << qsizetype(0);
        QTest::newRow("chunked, one huge chunk declared")
            << header(path, "Transfer-Encoding: chunked\r\n") + "ffffffffffffffff\r\nabc" << 413
            << qsizetype(0);
        QTest::newRow("chunked, small chunks with extensions and a trailer")
            << header(path, "Transfer-Encoding: chunked\r\n") + "3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nT: 1\r\n\r\n"
            << 200 << qsizetype(5);
        QTest::newRow("declared length over")
            << header(path, "Content-Length: " + std::to_string(kLimit + 1) + "\r\n") +
                   std::string(kLimit + 1, 'x')
            << 413 << qsizetype(0);
        QTest::newRow("declared length absurd")
            << header(path, "Content-Length: 99999999999999999999999\r\n") << 413 << qsizetype(0);
    }
    void bodyLimitHoldsForEveryFraming() {
        QFETCH(std::string, request);
        QFETCH(int, status);
        QFETCH(qsizetype, recordedBody);
        backend.scriptNext("/upload", ScriptedResponse{200, "stored", "text/plain"});

        RawClient client(backend.port());
        QVERIFY(client.connected());
        QVERIFY(client.send(request));
        const std::string reply = client.readAll();
        QCOMPARE(RawClient::status(reply), status);
        if (status == 413)
            QVERIFY2(RawClient::body(reply).find("too large") != std::string::npos, reply.c_str());

        const auto recorded = backend.lastRequest("/upload");
        QVERIFY(recorded);
        QCOMPARE(qsizetype(recorded->body.size()), recordedBody);
        if (status == 200 && recordedBody == 5)
            QCOMPARE(recorded->body, std::string("abcde"));
        QCOMPARE(getStatus(backend.port(), "/api/tutorials"), 200);
    }

    // A route that fails in any way still gets its request an answer, and the server goes on.
    void failingRouteIsAnswered_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("out of memory") << 0 << "bad_alloc";
        QTest::newRow("runtime error") << 1 << "broken route";
        QTest::newRow("not an exception type") << 2 << "unknown error";
    }
    void failingRouteIsAnswered() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        HttpServer server(
            HttpServer::Options{},
            [kind](const HttpRequest& request) {
                if (request.path == "/fine")
                    return HttpResponse::text(200, "fine");
                if (kind == 0)
                    throw std::bad_alloc();
                if (kind == 1)
                    throw std::runtime_error("broken route");
                throw 42;
            },
            nullptr);
        const int port = server.start("127.0.0.1", 0);
        for (int round = 0; round < 2; ++round) {
            RawClient client(port);
            client.send("GET /fail HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            const std::string reply = client.readAll();
            QCOMPARE(RawClient::status(reply), 500);
            QVERIFY2(RawClient::body(reply).find(message.toStdString()) != std::string::npos, reply.c_str());
        }
        QCOMPARE(getStatus(port, "/fine"), 200);
    }

    // Framing the server cannot trust is refused at once with a clear status, before any body is waited for.
    void untrustworthyFramingIsRefused_data() {
        QTest::addColumn<std::string>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const std::string get = "GET /framing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
        const std::string post = "POST /framing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
        QTest::newRow("two different lengths") << post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"
                                               << 400 << "conflicting Content-Length";
        QTest::newRow("two lengths in one list")
            << post + "Content-Length: 3, 4\r\n\r\nabcd" << 400 << "conflicting Content-Length";
        QTest::newRow("the same length twice")
            << post + "Content-Length: 3\r\nContent-length: 3\r\n\r\nabc" << 200 << "scripted";
        QTest::newRow("length not a number")
            << post + "Content-Length: 3x\r\n\r\nabc" << 400 << "Content-Length";
        QTest::newRow("negative length") << post + "Content-Length: -1\r\n\r\n" << 400 << "Content-Length";
        QTest::newRow("length and chunked")
            << post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"
            << 400 << "Transfer-Encoding";
        QTest::newRow("unknown transfer coding") << post + "Transfer-Encoding: gzip\r\n\r\n"
                                                 << 501 << "not supported";
        QTest::newRow("POST without a length") << post + "\r\n" << 411 << "Content-Length";
        QTest::newRow("PUT without a length")
            << std::string("PUT /framing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 411
            << "Content-Length";
        QTest::newRow("GET without a length") << get + "\r\n" << 200 << "scripted";
        QTest::newRow("bad chunk size") << post + "Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n"
                                        << 400 << "chunk size";
        QTest::newRow("chunk without its line end")
            << post + "Transfer-Encoding: chunked\r\n\r\n3\r\nabcd\r\n0\r\n\r\n"
            << 400 << "line end";
        QTest::newRow("malformed request line")
            << std::string("GET /framing\r\nHost: x\r\n\r\n") << 400 << "request line";
        QTest::newRow("unknown HTTP version")
            << std::string("GET /framing HTTP/2.0\r\nHost: x\r\n\r\n") << 505 << "version";
        QTest::newRow("target not a path") << std::string("GET framing HTTP/1.1\r\n\r\n") << 400 << "target";
        QTest::newRow("folded header") << get + "X-A: 1\r\n  2\r\n\r\n" << 400 << "folded";
        QTest::newRow("header without a colon") << get + "X-A 1\r\n\r\n" << 400 << "header line";
        QTest::newRow("head too large") << get + "X-Big: " + std::string(70 * 1024, 'b') + "\r\n\r\n"
                                        << 431 << "too large";
    }
    void untrustworthyFramingIsRefused() {
        QFETCH(std::string, request);
        QFETCH(int, status);
        QFETCH(QString, message);
        backend.scriptNext("/framing", ScriptedResponse{200, "scripted", "text/plain"});

        RawClient client(backend.port());
        QVERIFY(client.send(request)); // the sending side stays open: nothing may be waited for
        const std::string reply = client.readAll();
        QCOMPARE(RawClient::status(reply), status);
        QVERIFY2(RawClient::body(reply).find(message.toStdString()) != std::string::npos, reply.c_str());
        QVERIFY(client.closedByServer());
    }

    // A client that shuts down its sending side right after a complete request still gets the answer.
    void halfClosedClientIsAnswered_data() {
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("keep-alive") << true;
        QTest::newRow("connection: close") << false;
    }
    void halfClosedClientIsAnswered() {
        QFETCH(bool, keepAlive);
        const std::size_t sessionsBefore = backend.sessionCount();
        const std::string body = "{\"id_token\":\"half-closed\"}";
        RawClient client(backend.port());
        QVERIFY(client.send("POST /api/session HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n" +
                            std::string(keepAlive ? "" : "Connection: close\r\n") +
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        client.shutdownSending();
        const std::string reply = client.readAll();
        QCOMPARE(RawClient::status(reply), 200);
        const QJsonObject answer =
            QJsonDocument::fromJson(QByteArray::fromStdString(RawClient::body(reply))).object();
        QVERIFY(answer.value("session_token").toString().startsWith("standin-"));
        QVERIFY(client.closedByServer());
        QCOMPARE(backend.sessionCount(), sessionsBefore + 1);
    }

    // Whoever sends slowly runs into the deadline over the whole request, however steadily it trickles.
    void slowRequestMeetsItsDeadline_data() {
        QTest::addColumn<bool>("headAtOnce");
        QTest::newRow("slow head") << false;
        QTest::newRow("slow body") << true;
    }
    void slowRequestMeetsItsDeadline() {
        QFETCH(bool, headAtOnce);
        StandinBackend::Options options;
        options.server.requestDeadline = 400ms;
        StandinBackend own(options);
        const int port = own.start();

        const std::string head = "POST /slow HTTP/1.1\r\nHost: x\r\nContent-Length: 200\r\n\r\n";
        std::string toTrickle = head + std::string(200, 'b');
        RawClient client(port);
        if (headAtOnce) {
            QVERIFY(client.send(head));
            toTrickle = std::string(200, 'b');
        }
        const auto [reply, sent] = trickle(client, toTrickle, 20ms);
        QCOMPARE(RawClient::status(reply), 408);
        QVERIFY(sent < toTrickle.size()); // cut off while still sending
        QVERIFY(client.closedByServer());
        QCOMPARE(getStatus(port, "/api/tutorials"), 200);
    }

    // A declared length is only a claim: memory follows the bytes that arrive, however much many clients
    // declare at once.
    void declaredLengthsReserveNothing() {
        HttpServer server(
            HttpServer::Options{}, [](HttpRequest&) { return HttpResponse::text(200, "ok"); }, nullptr);
        const int port = server.start("127.0.0.1", 0);
        const std::size_t before = residentBytes();
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 64; ++i) {
            clients.push_back(std::make_unique<RawClient>(port));
            QVERIFY(
                clients.back()->send(header("/upload", "Content-Length: " + std::to_string(kLimit) + "\r\n") +
                                     std::string(1024, 'x')));
        }
        QTRY_COMPARE(server.bodyBytesInFlight(), std::size_t(64 * 1024));
        const std::size_t grown = residentBytes() - std::min(before, residentBytes());
        QVERIFY2(grown < 64u * 1024 * 1024, qPrintable(QString::number(grown)));
        clients.clear();
        QTRY_COMPARE(server.bodyBytesInFlight(), std::size_t(0));
    }

    // The bodies held at once stay under the server's cap: a request whose bytes would pass it is told
    // the server is busy, one that could never fit is too large, and bytes are given back when a request
    // ends.
    void bodiesInFlightAreCapped() {
        HttpServer::Options options;
        options.maxBodyBytes = 2 * 1024 * 1024;
        options.maxBodyBytesInFlight = 1024 * 1024;
        HttpServer server(
            options,
            [](HttpRequest& request) { return HttpResponse::text(200, std::to_string(request.body.size())); },
            nullptr);
        const int port = server.start("127.0.0.1", 0);
        const auto upload = [](std::size_t declared) {
            return header("/upload", "Content-Length: " + std::to_string(declared) + "\r\n");
        };
        constexpr std::size_t KiB = 1024;

        RawClient first(port);
        QVERIFY(first.send(upload(600 * KiB) + std::string(500 * KiB, 'a')));
        QTRY_COMPARE(server.bodyBytesInFlight(), 500 * KiB);

        RawClient second(port);
        second.send(upload(600 * KiB) + std::string(600 * KiB, 'b'));
        second.shutdownSending();
        const std::string busy = second.readAll();
        QCOMPARE(RawClient::status(busy), 503);
        QCOMPARE(server.bodyBytesInFlight(), 500 * KiB); // the refused body was let go

        QVERIFY(first.send(std::string(100 * KiB, 'a')));
        const std::string done = first.readAll();
        QCOMPARE(RawClient::status(done), 200);
        QCOMPARE(RawClient::body(done), std::to_string(600 * KiB));
        QTRY_COMPARE(server.bodyBytesInFlight(), std::size_t(0));

        RawClient third(port);
        QVERIFY(third.send(upload(600 * KiB) + std::string(600 * KiB, 'c')));
        QCOMPARE(RawClient::status(third.readAll()), 200);

        RawClient tooLarge(port);
        QVERIFY(tooLarge.send(upload(1024 * KiB + 1)));
        QCOMPARE(RawClient::status(tooLarge.readAll()), 413);
    }

    // Many clients stuck halfway through their requests lock no one else out.
    void slowClientsLockNobodyOut() {
        std::vector<std::unique_ptr<RawClient>> slow;
        for (int i = 0; i < 40; ++i) {
            slow.push_back(std::make_unique<RawClient>(backend.port()));
            QVERIFY(slow.back()->send("POST /api/session HTTP/1.1\r\nHost: x\r\nContent-"));
        }
        for (int i = 0; i < 5; ++i)
            QCOMPARE(getStatus(backend.port(), "/api/tutorials"), 200);
        for (auto& client : slow)
            QVERIFY(client->readAll(0ms).empty() && !client->closedByServer()); // still waiting, unanswered
    }

    // Past the connection limit a client is told at once that the server is busy.
    void connectionsBeyondTheLimitAreToldBusy() {
        StandinBackend::Options options;
        options.server.maxConnections = 3;
        StandinBackend own(options);
        const int port = own.start();
        std::vector<std::unique_ptr<RawClient>> holding;
        for (int i = 0; i < 3; ++i) {
            holding.push_back(std::make_unique<RawClient>(port));
            QVERIFY(holding.back()->send("GET /api/tutorials HTTP/1.1\r\n"));
        }
        QTRY_COMPARE(getStatus(port, "/api/tutorials"), 503);
        holding.clear();
        QTRY_COMPARE(getStatus(port, "/api/tutorials"), 200);
    }

    // Stopping closes every connection at once, whatever state its request is in.
    void stopDoesNotWaitForClients() {
        StandinBackend::Options options;
        options.server.requestDeadline = std::chrono::hours(1);
        options.server.idleTimeout = std::chrono::hours(1);
        auto own = std::make_unique<StandinBackend>(options);
        const int port = own->start();
        own->setDelay("/api/tutorials", std::chrono::hours(1));

        std::vector<std::unique_ptr<RawClient>> clients;
        const std::vector<std::string> states = {
            "",                                                   // connected, silent
            "GET /api/tu",                                        // halfway through the head
            "POST /x HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc", // halfway through the body
            "GET /api/tutorials HTTP/1.1\r\n\r\n",                // held by a delay
            "GET /nothing HTTP/1.1\r\n\r\n",                      // answered, kept alive
        };
        for (const std::string& state : states) {
            clients.push_back(std::make_unique<RawClient>(port));
            QVERIFY(clients.back()->send(state));
        }
        QTRY_VERIFY(own->lastRequest("/api/tutorials").has_value());
        QCOMPARE(RawClient::status(clients.back()->readAll(2s)), 404);

        auto stopped = std::async(std::launch::async, [&own] { own->stop(); });
        QVERIFY(stopped.wait_for(10s) == std::future_status::ready);
        for (auto& client : clients) {
            client->readAll(5s);
            QVERIFY(client->closedByServer());
        }
        QVERIFY(!RawClient(port).connected());
    }

    // The record keeps the last requests up to its limit, and sessions expire least recently used first.
    void stateStaysBounded() {
        StandinBackend::Options options;
        options.recordLimit = 3;
        options.sessionLimit = 2;
        StandinBackend own(options);
        const int port = own.start();
        for (int i = 0; i < 5; ++i)
            getStatus(port, "/r?i=" + std::to_string(i));
        auto received = own.received();
        QCOMPARE(received.size(), std::size_t(3));
        QCOMPARE(received.front().rawQuery, std::string("i=2"));
        QCOMPARE(received.back().rawQuery, std::string("i=4"));
        own.setRecordLimit(1);
        QCOMPARE(own.received().size(), std::size_t(1));
        QCOMPARE(own.received().front().rawQuery, std::string("i=4"));
        own.setRecordLimit(0);
        getStatus(port, "/r");
        QVERIFY(own.received().empty());

        httplib::Client client("127.0.0.1", port);
        const auto open = [&client](const std::string& idToken) {
            return client.Post("/api/session", "{\"id_token\":\"" + idToken + "\"}", "application/json")
                ->status;
        };
        const auto config = [&client](const std::string& idToken) {
            return client.Get(("/api/user/config?id_token=" + idToken).c_str())->status;
        };
        QCOMPARE(open("a"), 200);
        QCOMPARE(open("b"), 200);
        QCOMPARE(config("a"), 200); // a is now used more recently than b
        QCOMPARE(open("c"), 200);
        QCOMPARE(own.sessionCount(), std::size_t(2));
        QCOMPARE(config("b"), 401);
        QCOMPARE(config("a"), 200);
        QCOMPARE(config("c"), 200);
    }

    // The executable ends on SIGTERM without waiting for clients that are still sending.
    void executableStopsWithSlowClientsConnected() {
        QProcess process;
        process.start(STANDIN_BACKEND_EXECUTABLE, {"--port", "0", "--record-limit", "2"});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 30000);
        const int port = QString::fromUtf8(process.readLine()).trimmed().section(':', -1).toInt();
        std::vector<std::unique_ptr<RawClient>> slow;
        for (int i = 0; i < 10; ++i) {
            slow.push_back(std::make_unique<RawClient>(port));
            QVERIFY(slow.back()->send("POST /api/session HTTP/1.1\r\nContent-Length: 10\r\n\r\n{"));
        }
        QCOMPARE(getStatus(port, "/api/tutorials"), 200);

        process.terminate();
        // Well inside the 10 s the slow requests could otherwise take.
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // A fixed transcript stands in for recognition, e.g. for load runs.
    void executableAnswersAFixedTranscript() {
        QProcess process;
        process.start(STANDIN_BACKEND_EXECUTABLE, {"--port", "0", "--transcript", "fixed words here"});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 30000);
        const int port = QString::fromUtf8(process.readLine()).trimmed().section(':', -1).toInt();
        httplib::Client client("127.0.0.1", port);
        const auto session = client.Post("/api/session", "{\"id_token\":\"t\"}", "application/json");
        QVERIFY(session && session->status == 200);
        const QString token = QJsonDocument::fromJson(QByteArray::fromStdString(session->body))
                                  .object()
                                  .value("session_token")
                                  .toString();
        const std::string body =
            "--b\r\nContent-Disposition: form-data; name=\"session_token\"\r\n\r\n" + token.toStdString() +
            "\r\n--b\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"a.wav\"\r\n\r\n" +
            std::string(3200, '\0') + "\r\n--b--\r\n";
        const auto answer = client.Post("/api/transcription", body, "multipart/form-data; boundary=b");
        QVERIFY(answer);
        QCOMPARE(answer->status, 200);
        QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(answer->body))
                     .object()
                     .value("text")
                     .toString(),
                 QString("fixed words here"));
        process.terminate();
        QVERIFY(process.waitForFinished(30000));
    }

    void executableRefusesBadRecordLimit() {
        QProcess process;
        process.start(STANDIN_BACKEND_EXECUTABLE, {"--port", "0", "--record-limit", "lots"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("record limit"));
    }
};

QTEST_GUILESS_MAIN(TestStandinHardening)
#include "tst_standinhardening.moc"
