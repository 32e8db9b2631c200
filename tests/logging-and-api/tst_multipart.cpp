#include "MultipartFormDataBuilder.h"

#include <QRegularExpression>
#include <QTest>

using Fields = QMap<QString, QString>;

class TestMultipart : public QObject {
    Q_OBJECT

private slots:
    void exampleBodyIsByteExact();
    void bodyLayout_data();
    void bodyLayout();
    void everyCallDrawsItsOwnBoundary();
};

void TestMultipart::exampleBodyIsByteExact() {
    const QString boundary = QStringLiteral("Boundary-11111111-2222-3333-4444-555555555555");
    const auto built = MultipartFormDataBuilder::makeRequestBody(
        boundary, Fields{{QStringLiteral("model"), QStringLiteral("m1")}}, QStringLiteral("audio"),
        QStringLiteral("clip.wav"), QStringLiteral("audio/wav"), QByteArrayLiteral("abc"));

    const QByteArray expected = "--Boundary-11111111-2222-3333-4444-555555555555\r\n"
                                "Content-Disposition: form-data; name=\"model\"\r\n"
                                "\r\n"
                                "m1\r\n"
                                "--Boundary-11111111-2222-3333-4444-555555555555\r\n"
                                "Content-Disposition: form-data; name=\"audio\"; filename=\"clip.wav\"\r\n"
                                "Content-Type: audio/wav\r\n"
                                "\r\n"
                                "abc\r\n"
                                "--Boundary-11111111-2222-3333-4444-555555555555--\r\n";
    QCOMPARE(built.body, expected);
    QCOMPARE(built.contentType,
             QStringLiteral("multipart/form-data; boundary=Boundary-11111111-2222-3333-4444-555555555555"));
}

void TestMultipart::bodyLayout_data() {
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("fileData");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray filePartHead = "--B\r\n"
                                    "Content-Disposition: form-data; name=\"audio\"; filename=\"f.wav\"\r\n"
                                    "Content-Type: audio/wav\r\n\r\n";
    const QByteArray closing = "--B--\r\n";

    QTest::newRow("no fields: file part and closing line only")
        << Fields{} << QStringLiteral("f.wav") << QByteArray("xyz") << filePartHead + "xyz\r\n" + closing;

    QTest::newRow("empty file data keeps the file part")
        << Fields{} << QStringLiteral("f.wav") << QByteArray() << filePartHead + "\r\n" + closing;

    QTest::newRow("empty field value")
        << Fields{{QStringLiteral("prompt"), QString()}} << QStringLiteral("f.wav") << QByteArray("1")
        << QByteArray("--B\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\n\r\n") + filePartHead +
               "1\r\n" + closing;

    QTest::newRow("CR LF and quotes in a value are copied unchanged")
        << Fields{{QStringLiteral("text"), QStringLiteral("a\r\n--B\r\n\"q\"")}} << QStringLiteral("f.wav")
        << QByteArray("1")
        << QByteArray("--B\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\na\r\n--B\r\n\"q\"\r\n") +
               filePartHead + "1\r\n" + closing;

    QTest::newRow("fields in map order, before the file part")
        << Fields{{QStringLiteral("zeta"), QStringLiteral("2")},
                  {QStringLiteral("alpha"), QStringLiteral("1")}}
        << QStringLiteral("f.wav") << QByteArray("1")
        << QByteArray("--B\r\nContent-Disposition: form-data; name=\"alpha\"\r\n\r\n1\r\n"
                      "--B\r\nContent-Disposition: form-data; name=\"zeta\"\r\n\r\n2\r\n") +
               filePartHead + "1\r\n" + closing;

    QTest::newRow("non-ASCII text as UTF-8, file name not escaped")
        << Fields{{QStringLiteral("lang"), QStringLiteral("français")}} << QStringLiteral("ré\"sumé.wav")
        << QByteArray("1")
        << QByteArray("--B\r\nContent-Disposition: form-data; name=\"lang\"\r\n\r\nfran\xc3\xa7"
                      "ais\r\n"
                      "--B\r\nContent-Disposition: form-data; name=\"audio\"; "
                      "filename=\"r\xc3\xa9\"sum\xc3\xa9.wav\"\r\n"
                      "Content-Type: audio/wav\r\n\r\n1\r\n") +
               closing;

    QTest::newRow("binary file data byte for byte")
        << Fields{} << QStringLiteral("f.wav") << QByteArray("\0\r\n\xff--B--\r\n", 11)
        << filePartHead + QByteArray("\0\r\n\xff--B--\r\n", 11) + "\r\n" + closing;
}

void TestMultipart::bodyLayout() {
    QFETCH(Fields, fields);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, fileData);
    QFETCH(QByteArray, expected);

    const auto built =
        MultipartFormDataBuilder::makeRequestBody(QStringLiteral("B"), fields, QStringLiteral("audio"),
                                                  fileName, QStringLiteral("audio/wav"), fileData);
    QCOMPARE(built.body, expected);
    QCOMPARE(built.contentType, QStringLiteral("multipart/form-data; boundary=B"));
    // Sized once up front: a wrong size estimate would leave spare capacity after a reallocation.
    QCOMPARE(built.body.capacity(), built.body.size());
}

void TestMultipart::everyCallDrawsItsOwnBoundary() {
    const Fields fields{{QStringLiteral("model"), QStringLiteral("m1")}};
    static const QRegularExpression contentTypePattern(QStringLiteral(
        "^multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
        "[0-9A-F]{12})$"));

    QStringList boundaries;
    for (int call = 0; call < 2; ++call) {
        const auto built = MultipartFormDataBuilder::makeRequestBody(
            fields, QStringLiteral("audio"), QStringLiteral("clip.wav"), QStringLiteral("audio/wav"), "abc");
        const auto match = contentTypePattern.match(built.contentType);
        QVERIFY2(match.hasMatch(), qPrintable(built.contentType));
        const QString boundary = match.captured(1);
        QCOMPARE(boundary.size(), 45);
        // The body is the one the fixed-boundary form builds with the boundary its content type names.
        QCOMPARE(built.body, MultipartFormDataBuilder::makeRequestBody(
                                 boundary, fields, QStringLiteral("audio"), QStringLiteral("clip.wav"),
                                 QStringLiteral("audio/wav"), "abc")
                                 .body);
        boundaries << boundary;
    }
    QVERIFY(boundaries.at(0) != boundaries.at(1));
}

QTEST_GUILESS_MAIN(TestMultipart)
#include "tst_multipart.moc"
