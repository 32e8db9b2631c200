// The loopback listener on real sockets: requests written in pieces, bodies in later segments, requests
// that are not the callback, the first callback kept for the waiter, the wait's time-out and cancellation.
#include "LoopbackCallbackServer.h"
#include "RawHttpClient.h"
#include "RunTask.h"

#include <QTcpSocket>
#include <QtTest>

using namespace std::chrono_literals;
using RawHttpClient::bodyOf;
using RawHttpClient::statusOf;

namespace {

struct Exchange {
    QList<QByteArray> pieces;
    int status; // 0: no answer
};

// Runs the event loop until the client is done.
RawHttpClient::Exchange finish(std::future<RawHttpClient::Exchange>& future) {
    QElapsedTimer timer;
    timer.start();
    while (future.wait_for(0ms) != std::future_status::ready && timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return future.get();
}

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
        auto second =
            RawHttpClient::send(server.port(), {"GET /oauth/google/callback?code=two HTTP/1.1\r\n\r\n"});
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

    void errorCallbackGetsTheErrorPage() {
        LoopbackCallbackServer server(CallbackProfile::microsoft("/oauth/microsoft/callback"));
        QVERIFY(server.listen());
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
