// The loopback listener on real sockets: requests written in pieces, bodies in later segments, requests
// that are not the callback (stray, forged, idle or half-sent) leaving the wait to the genuine callback,
// the first callback kept for the waiter, the read deadline, the wait's time-out and cancellation.
#include "LoopbackCallbackServer.h"
#include "ManualTime.h"
#include "RawHttpClient.h"
#include "RunTask.h"

#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;
using RawHttpClient::bodyOf;
using RawHttpClient::finish;
using RawHttpClient::holdOpen;
using RawHttpClient::statusOf;
using RawHttpClient::stillConnected;

namespace {

QByteArray form(const QByteArray& body) {
    return "POST /apple/callback HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

Q_DECLARE_METATYPE(QList<QByteArray>)

class TestLoopbackCallbackServer : public QObject {
    Q_OBJECT

private slots:
    void listensOnLoopbackOnly() {
        LoopbackCallbackServer server(CallbackProfile::apple());
        QVERIFY(!server.listen(QHostAddress::Any));
        QVERIFY(!server.listen(QHostAddress(QStringLiteral("0.0.0.0"))));
        QVERIFY(server.errorString().contains("not a loopback"));
        QVERIFY(server.listen());
        QCOMPARE(server.address(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(server.port() != 0);
    }

    void portAlreadyTaken() {
        LoopbackCallbackServer first(CallbackProfile::apple());
        QVERIFY(first.listen());
        LoopbackCallbackServer second(CallbackProfile::microsoft("/cb"));
        QVERIFY(!second.listen(QHostAddress::LocalHost, first.port()));
        QVERIFY(!second.errorString().isEmpty());
        QCOMPARE(second.serverError(), QAbstractSocket::AddressInUseError);
        QVERIFY(!second.isListening());
    }

    // Each row is one connection; the listener must answer it as given and deliver the row's callback.
    void servesConnections_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("idToken"); // empty: no callback delivered

        const QByteArray post = form("state=s&id_token=tok%2Bt&user=%7B%7D");
        const qsizetype headEnd = post.indexOf("\r\n\r\n") + 4;
        QTest::newRow("whole") << QList<QByteArray>{post} << 200 << "tok+t";
        QTest::newRow("body in a second segment")
            << QList<QByteArray>{post.left(headEnd), post.mid(headEnd)} << 200 << "tok+t";
        QTest::newRow("split in the request line")
            << QList<QByteArray>{post.left(9), post.mid(9, 30), post.mid(39)} << 200 << "tok+t";
        QTest::newRow("byte by byte head") << [&] {
            QList<QByteArray> bytes;
            for (qsizetype i = 0; i < 40; ++i) {
                bytes << post.mid(i, 1);
            }
            bytes << post.mid(40);
            return bytes;
        }() << 200 << "tok+t";
        QTest::newRow("GET") << QList<QByteArray>{"GET /cb?state=s&id_token=q HTTP/1.1\r\n\r\n"} << 200
                             << "q";
        QTest::newRow("page icon") << QList<QByteArray>{"GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n"} << 404
                                   << "";
        QTest::newRow("not UTF-8") << QList<QByteArray>{"GET /cb?state=\xC3\x28 HTTP/1.1\r\n\r\n"} << 400
                                   << "";
        QTest::newRow("no target") << QList<QByteArray>{"HELLO\r\n\r\n"} << 400 << "";
        QTest::newRow("over-long") << QList<QByteArray>{"GET /?id_token=" + QByteArray(70 * 1024, 'a')} << 413
                                   << "";
        QTest::newRow("over-long body announced")
            << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: 999999\r\n\r\nid_token=x"} << 413 << "";
    }
    void servesConnections() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, status);
        QFETCH(QString, idToken);

        LoopbackCallbackServer server(CallbackProfile::apple());
        QVERIFY(server.listen());
        server.expectState("s");
        auto client = RawHttpClient::send(server.port(), pieces);
        const RawHttpClient::Exchange exchange = finish(client);
        QVERIFY(exchange.connected);
        QCOMPARE(statusOf(exchange.answer), status);
        QVERIFY(exchange.answer.contains("Connection: close\r\n"));
        QCOMPARE(
            exchange.answer.contains("Content-Length: " + QByteArray::number(bodyOf(exchange.answer).size())),
            true);

        // The listener keeps waiting after anything that was not the callback.
        const auto result =
            runTask(server.waitForCallback(idToken.isEmpty() ? 300ms : 5s, SignInCancelToken()));
        QCOMPARE(result.has_value(), !idToken.isEmpty());
        if (result) {
            QCOMPARE(result->idToken.value_or("<absent>"), idToken);
            QCOMPARE(result->state.value_or("<absent>"), QStringLiteral("s"));
        }
    }

    // Stray and empty connections first, then the callback, then a second one: the first callback is the
    // one kept, even though nobody waited when it came.
    void keepsTheFirstCallbackUntilTaken() {
        LoopbackCallbackServer server(CallbackProfile::google());
        QVERIFY(server.listen());
        server.expectState("s");
        auto empty = RawHttpClient::send(server.port(), {}, 0ms, false);
        QVERIFY(finish(empty).connected);
        auto preconnect = RawHttpClient::send(server.port(), {}, 0ms, true);
        auto icon = RawHttpClient::send(server.port(), {"GET /favicon.ico HTTP/1.1\r\n\r\n"});
        QCOMPARE(statusOf(finish(icon).answer), 404);
        auto first = RawHttpClient::send(server.port(),
                                         {"GET /oauth/google/callback?code=one&state=s HTTP/1.1\r\n\r\n"});
        const auto firstAnswer = finish(first).answer;
        QCOMPARE(statusOf(firstAnswer), 200);
        QVERIFY(bodyOf(firstAnswer).contains("Google sign-in completed"));
        auto second = RawHttpClient::send(server.port(),
                                          {"GET /oauth/google/callback?code=two&state=s HTTP/1.1\r\n\r\n"});
        QCOMPARE(statusOf(finish(second).answer), 200);

        const auto result = runTask(server.waitForCallback(5s, SignInCancelToken()));
        QVERIFY(result);
        QCOMPARE(result->code, std::optional<QString>("one"));
        // Taken: a later wait sees nothing more.
        QVERIFY(!runTask(server.waitForCallback(200ms, SignInCancelToken())));

        server.stop();
        QVERIFY(!server.isListening());
        // The preconnect that never sent a byte was closed with the listener, unanswered.
        const auto dropped = finish(preconnect);
        QVERIFY(dropped.connected);
        QVERIFY(dropped.answer.isEmpty());
    }

    // Whatever reaches the port before the browser does (another local process, a web page, idle or
    // half-sent connections) is answered or dropped, and the genuine callback that follows still ends
    // the wait with its own code.
    void strayRequestsLeaveTheWaitToTheCallback_data() {
        QTest::addColumn<QByteArray>("stray"); // the bytes sent; empty: a bare connection
        QTest::addColumn<int>("count");        // connections opened
        QTest::addColumn<bool>("held");        // kept open while the callback comes
        QTest::addColumn<int>("status");       // the stray's answer; 0: none

        const QByteArray path = "/oauth/microsoft/callback";
        const auto request = [](const QByteArray& target) { return "GET " + target + " HTTP/1.1\r\n\r\n"; };
        QTest::newRow("another state") << request(path + "?code=evil&state=forged") << 1 << false << 400;
        QTest::newRow("no state") << request(path + "?code=evil") << 1 << false << 400;
        QTest::newRow("forged refusal")
            << request(path + "?error=access_denied&error_description=Denied&state=forged") << 1 << false
            << 400;
        QTest::newRow("the state on another path")
            << request("/other?code=evil&state=s") << 1 << false << 404;
        QTest::newRow("page icon") << request("/favicon.ico") << 1 << false << 404;
        QTest::newRow("the fields in a form body")
            << QByteArray("POST " + path +
                          " HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 21\r\n\r\ncode=evil&state=s&x=1")
            << 1 << false << 404;
        QTest::newRow("closed without a request") << QByteArray() << 1 << false << 0;
        QTest::newRow("16 idle connections") << QByteArray() << 16 << true << 0;
        QTest::newRow("200 idle connections") << QByteArray() << 200 << true << 0;
        QTest::newRow("a half-sent request") << QByteArray("GET " + path + "?code=evil&st") << 1 << true << 0;
        QTest::newRow("as many half-sent requests as may be open")
            << QByteArray("GET " + path + "?code=evil&st") << LoopbackCallbackServer::maxOpenConnections
            << true << 0;
    }
    void strayRequestsLeaveTheWaitToTheCallback() {
        QFETCH(QByteArray, stray);
        QFETCH(int, count);
        QFETCH(bool, held);
        QFETCH(int, status);

        LoopbackCallbackServer server(CallbackProfile::microsoft("/oauth/microsoft/callback"));
        QVERIFY(server.listen());
        server.expectState("s");
        std::vector<std::unique_ptr<QTcpSocket>> open;
        if (held) {
            open = holdOpen(server.port(), count, stray);
        } else {
            auto client = RawHttpClient::send(
                server.port(), stray.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{stray}, 0ms,
                !stray.isEmpty());
            const RawHttpClient::Exchange exchange = finish(client);
            QVERIFY(exchange.connected);
            QCOMPARE(statusOf(exchange.answer), status);
            if (status == 400) {
                QCOMPARE(bodyOf(exchange.answer), QByteArray(foreignStatePage));
            }
        }

        auto genuine = RawHttpClient::send(
            server.port(), {"GET /oauth/microsoft/callback?code=genuine&state=s HTTP/1.1\r\n\r\n"});
        const RawHttpClient::Exchange exchange = finish(genuine);
        QVERIFY(exchange.connected);
        QCOMPARE(statusOf(exchange.answer), 200);
        QCOMPARE(bodyOf(exchange.answer), CallbackProfile::microsoft("/").successPage);
        const auto result = runTask(server.waitForCallback(5s, SignInCancelToken()));
        QVERIFY(result);
        QCOMPARE(result->code, std::optional<QString>("genuine"));
        if (held) {
            // The newcomer is never the one turned away: the oldest connections made room for it, and no
            // more of them than needed.
            QTRY_COMPARE(stillConnected(open),
                         std::min(count, LoopbackCallbackServer::maxOpenConnections - 1));
        }
    }

    // A connection that sends nothing, or never finishes its request, is closed unanswered at the read
    // deadline, and the listener goes on serving.
    void silentConnectionsAreDroppedAtTheReadDeadline() {
        ManualTime time;
        LoopbackCallbackServer server(CallbackProfile::google());
        QVERIFY(server.listen());
        server.expectState("s");
        auto idle = holdOpen(server.port(), 1, {});
        auto halfSent = holdOpen(server.port(), 1, "GET /oauth/google/callback?code=c&state=s HTTP/1.1\r\n");

        time.scheduler.advance(LoopbackCallbackServer::readTimeout - 1s);
        QTest::qWait(100);
        QCOMPARE(stillConnected(idle) + stillConnected(halfSent), 2);
        time.scheduler.advance(2s);
        QTRY_COMPARE(stillConnected(idle) + stillConnected(halfSent), 0);
        QCOMPARE(idle.front()->readAll() + halfSent.front()->readAll(), QByteArray());

        auto genuine = RawHttpClient::send(server.port(),
                                           {"GET /oauth/google/callback?code=c&state=s HTTP/1.1\r\n\r\n"});
        QCOMPARE(statusOf(finish(genuine).answer), 200);
        const auto result = runTask(server.waitForCallback(5s, SignInCancelToken()));
        QVERIFY(result);
        QCOMPARE(result->code, std::optional<QString>("c"));
    }

    void errorCallbackGetsTheErrorPage() {
        LoopbackCallbackServer server(CallbackProfile::microsoft("/oauth/microsoft/callback"));
        QVERIFY(server.listen());
        server.expectState("s");
        auto client = RawHttpClient::send(
            server.port(), {"GET /oauth/microsoft/callback?error=access_denied&state=s HTTP/1.1\r\n\r\n"});
        const QByteArray answer = finish(client).answer;
        QCOMPARE(statusOf(answer), 200);
        QCOMPARE(bodyOf(answer), CallbackProfile::microsoft("/").errorPage);
        const auto result = runTask(server.waitForCallback(5s, SignInCancelToken()));
        QVERIFY(result && result->hasError());
    }

    void waitEndsAfterItsTimeout() {
        LoopbackCallbackServer server(CallbackProfile::apple());
        QVERIFY(server.listen());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!runTask(server.waitForCallback(150ms, SignInCancelToken())));
        QVERIFY(timer.elapsed() >= 140);
    }

    void cancellationEndsTheWaitAtOnce() {
        LoopbackCallbackServer server(CallbackProfile::apple());
        QVERIFY(server.listen());
        SignInCancelToken cancel;
        QTimer::singleShot(50ms, [cancel]() mutable { cancel.cancel(); });
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(SignInCancelled, runTask(server.waitForCallback(120s, cancel)));
        QVERIFY(timer.elapsed() < 5000);
        // An already cancelled token does not wait at all.
        QVERIFY_THROWS_EXCEPTION(SignInCancelled, runTask(server.waitForCallback(120s, cancel)));
    }
};

QTEST_GUILESS_MAIN(TestLoopbackCallbackServer)
#include "tst_loopback_callback_server.moc"
