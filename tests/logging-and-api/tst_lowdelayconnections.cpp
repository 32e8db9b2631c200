#include "LowDelayConnections.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

class TestLowDelayConnections : public QObject {
    Q_OBJECT

private slots:
    // A connection made by Qt, with Nagle's algorithm on as Qt leaves it; Qt's own reading of the socket
    // option tells whether it was switched.
    void switchesOnlyConnectionsToTheGivenServer_data() {
        QTest::addColumn<bool>("serverPort");
        QTest::addColumn<QList<QHostAddress>>("addresses");
        QTest::addColumn<bool>("switched");
        const QHostAddress loopback(QHostAddress::LocalHost);
        QTest::newRow("port and address") << true << QList<QHostAddress>{loopback} << true;
        QTest::newRow("port, any address") << true << QList<QHostAddress>{} << true;
        QTest::newRow("port, address as mapped IPv6")
            << true << QList<QHostAddress>{QHostAddress(QStringLiteral("::ffff:127.0.0.1"))} << true;
        QTest::newRow("port, other addresses")
            << true
            << QList<QHostAddress>{QHostAddress(QStringLiteral("127.0.0.2")),
                                   QHostAddress(QStringLiteral("2001:db8::1"))}
            << false;
        QTest::newRow("other port") << false << QList<QHostAddress>{loopback} << false;
    }
    void switchesOnlyConnectionsToTheGivenServer() {
        QFETCH(bool, serverPort);
        QFETCH(QList<QHostAddress>, addresses);
        QFETCH(bool, switched);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket* accepted = server.nextPendingConnection();
        QVERIFY(accepted);
        QCOMPARE(client.socketOption(QAbstractSocket::LowDelayOption).toInt(), 0);
        quint16 port = server.serverPort();
        if (!serverPort) {
            do {
                ++port;
            } while (port == client.localPort());
        }

        QCOMPARE(LowDelayConnections::enable(port, addresses), switched ? 1 : 0);

        QCOMPARE(client.socketOption(QAbstractSocket::LowDelayOption).toInt(), switched ? 1 : 0);
        // The server's end has the client's port as its remote end.
        QCOMPARE(accepted->socketOption(QAbstractSocket::LowDelayOption).toInt(), 0);
        // A switched connection is not counted again.
        QCOMPARE(LowDelayConnections::enable(port, addresses), 0);
        // The connection still carries data both ways.
        client.write("ping");
        QVERIFY(client.waitForBytesWritten(5000));
        QTRY_COMPARE(accepted->bytesAvailable(), qint64(4));
    }
};

QTEST_GUILESS_MAIN(TestLowDelayConnections)
#include "tst_lowdelayconnections.moc"
