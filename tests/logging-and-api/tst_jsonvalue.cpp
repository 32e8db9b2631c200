#include "JSONValue.h"
#include "JsonDecoding.h"

#include <QTest>

#include <cmath>

class TestJSONValue : public QObject {
    Q_OBJECT

private slots:
    void readsEachKindInOrder_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("payload"); // the scalar payload as text, or the element count
        using K = JSONValue::Kind;
        QTest::newRow("true is bool") << QByteArray("true") << int(K::Bool) << "true";
        QTest::newRow("1 is a number") << QByteArray("1") << int(K::Number) << "1";
        QTest::newRow("0 is a number") << QByteArray("0") << int(K::Number) << "0";
        QTest::newRow("42.0 is 42") << QByteArray("42.0") << int(K::Number) << "42";
        QTest::newRow("fraction") << QByteArray("-2.5e-1") << int(K::Number) << "-0.25";
        QTest::newRow("digits string") << QByteArray("\"123\"") << int(K::String) << "123";
        QTest::newRow("null") << QByteArray("null") << int(K::Null) << "";
        QTest::newRow("empty object") << QByteArray("{}") << int(K::Object) << "0";
        QTest::newRow("empty array") << QByteArray("[]") << int(K::Array) << "0";
        QTest::newRow("array keeps nulls") << QByteArray("[null, 1, null]") << int(K::Array) << "3";
    }
    void readsEachKindInOrder() {
        QFETCH(QByteArray, json);
        QFETCH(int, kind);
        QFETCH(QString, payload);
        const JSONValue value = JSONValue::fromJson(JsonDecode::parse(json));
        QCOMPARE(int(value.kind()), kind);
        switch (value.kind()) {
        case JSONValue::Kind::Bool:
            QCOMPARE(value.boolValue() ? "true" : "false", payload);
            break;
        case JSONValue::Kind::Number:
            QCOMPARE(value.numberValue(), payload.toDouble());
            break;
        case JSONValue::Kind::String:
            QCOMPARE(value.stringValue(), payload);
            break;
        case JSONValue::Kind::Object:
            QCOMPARE(qsizetype(value.objectValue().size()), payload.toLongLong());
            break;
        case JSONValue::Kind::Array:
            QCOMPARE(qsizetype(value.arrayValue().size()), payload.toLongLong());
            QVERIFY(payload == "0" || value.arrayValue().front().isNull());
            break;
        case JSONValue::Kind::Null:
            break;
        }
    }

    void writesNullMembersAndRoundTrips() {
        JSONValue::Object nested{
            {"deep", JSONValue::array({JSONValue::number(1), JSONValue::null(), JSONValue::string("x")})}};
        const JSONValue value = JSONValue::object({{"gone", JSONValue::null()},
                                                   {"flag", JSONValue::boolean(false)},
                                                   {"count", JSONValue::number(3)},
                                                   {"nested", JSONValue::object(nested)}});
        const QByteArray text = JsonEncode::compactText(value.toJson());
        QVERIFY2(text.contains("\"gone\":null"), text.constData());

        const JSONValue back = JSONValue::fromJson(JsonDecode::parse(text));
        QCOMPARE(back.kind(), JSONValue::Kind::Object);
        const auto& object = back.objectValue();
        QCOMPARE(object.size(), std::size_t(4));
        QVERIFY(object.at("gone").isNull());
        QCOMPARE(object.at("flag").kind(), JSONValue::Kind::Bool);
        QCOMPARE(object.at("count").numberValue(), 3.0);
        const auto& deep = object.at("nested").objectValue().at("deep").arrayValue();
        QCOMPARE(deep.size(), std::size_t(3));
        QVERIFY(deep[1].isNull());
        QCOMPARE(deep[2].stringValue(), QStringLiteral("x"));
    }

    void refusesToWriteNonFiniteNumbers() {
        for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
            const JSONValue value = JSONValue::array({JSONValue::number(1), JSONValue::number(bad)});
            QVERIFY_THROWS_EXCEPTION(JsonEncodingError, value.toJson());
        }
    }
};

QTEST_GUILESS_MAIN(TestJSONValue)
#include "tst_jsonvalue.moc"
