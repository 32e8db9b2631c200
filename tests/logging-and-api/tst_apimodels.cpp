#include "APIModels.h"

#include <QJsonDocument>
#include <QTest>

#include <functional>

namespace {
const QByteArray kSession =
    R"({"total_words":10,"total_minutes":1.5,"lifetime_words":20,"lifetime_minutes":3})";

QByteArray transcription(const QByteArray& members) {
    return "{\"text\":\"hi\",\"words\":1,\"session\":" + kSession + members + "}";
}

// Reads `json` as the named record; gives the failure, or nothing on success.
std::optional<DecodingError> readAs(const QString& type, const QByteArray& json) {
    static const QMap<QString, std::function<void(const QByteArray&)>> readers{
        {"transcription", [](const QByteArray& t) { fromJsonText<TranscriptionResponseDTO>(t); }},
        {"combined", [](const QByteArray& t) { fromJsonText<CombinedTranscriptionResponseDTO>(t); }},
        {"tutorials", [](const QByteArray& t) { fromJsonText<TutorialsResponseDTO>(t); }},
        {"config", [](const QByteArray& t) { fromJsonText<ConfigResponseDTO>(t); }},
        {"session", [](const QByteArray& t) { fromJsonText<SessionResponseDTO>(t); }},
        {"sessionRequest", [](const QByteArray& t) { fromJsonText<SessionRequest>(t); }},
        {"apple", [](const QByteArray& t) { fromJsonText<AppleAuthStartResponseDTO>(t); }},
    };
    try {
        readers.value(type)(json);
    } catch (const DecodingError& error) {
        return error;
    }
    return std::nullopt;
}

QStringList keysOf(const QJsonObject& object) {
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}
} // namespace

class TestAPIModels : public QObject {
    Q_OBJECT

private slots:
    void readingRules_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("failure"); // -1: reads fine, else DecodingError::Kind
        QTest::addColumn<QString>("path");
        using K = DecodingError::Kind;
        QTest::newRow("complete") << "transcription"
                                  << transcription(
                                         R"(,"provider":"p","provider_metadata":{"a":[1,null,{"b":true}]})")
                                  << -1 << "";
        QTest::newRow("extra keys ignored") << "session" << QByteArray(R"({"total_words":1,"total_minutes":0,
            "lifetime_words":1,"lifetime_minutes":0,"plan":"pro","nested":{"x":[1]}})")
                                            << -1 << "";
        QTest::newRow("optional null is absent")
            << "transcription" << transcription(R"(,"provider":null)") << -1 << "";
        QTest::newRow("words missing")
            << "transcription" << QByteArray("{\"text\":\"hi\",\"session\":" + kSession + "}")
            << int(K::KeyNotFound) << "words";
        QTest::newRow("session missing") << "transcription" << QByteArray(R"({"text":"hi","words":1})")
                                         << int(K::KeyNotFound) << "session";
        QTest::newRow("nested member missing")
            << "transcription"
            << QByteArray(
                   R"({"text":"hi","words":1,"session":{"total_words":1,"lifetime_words":1,"lifetime_minutes":0}})")
            << int(K::KeyNotFound) << "session.total_minutes";
        QTest::newRow("required null")
            << "transcription" << QByteArray("{\"text\":null,\"words\":1,\"session\":" + kSession + "}")
            << int(K::ValueNotFound) << "text";
        QTest::newRow("fractional integer")
            << "transcription" << QByteArray("{\"text\":\"hi\",\"words\":1.5,\"session\":" + kSession + "}")
            << int(K::DataCorrupted) << "words";
        QTest::newRow("integer out of range")
            << "transcription"
            << QByteArray("{\"text\":\"hi\",\"words\":9223372036854775808,\"session\":" + kSession + "}")
            << int(K::DataCorrupted) << "words";
        QTest::newRow("digits string for integer")
            << "transcription"
            << QByteArray("{\"text\":\"hi\",\"words\":\"12\",\"session\":" + kSession + "}")
            << int(K::TypeMismatch) << "words";
        QTest::newRow("number for string")
            << "transcription" << transcription(R"(,"provider":7)") << int(K::TypeMismatch) << "provider";
        QTest::newRow("scalar for map") << "transcription" << transcription(R"(,"provider_metadata":"x")")
                                        << int(K::TypeMismatch) << "provider_metadata";
        QTest::newRow("number for bool") << "sessionRequest" << QByteArray(R"({"force_refresh":1})")
                                         << int(K::TypeMismatch) << "force_refresh";
        QTest::newRow("scalar for record")
            << "sessionRequest" << QByteArray(R"({"profile":"me"})") << int(K::TypeMismatch) << "profile";
        QTest::newRow("one tutorial lacks url")
            << "tutorials" << QByteArray(R"({"tutorials":[{"key":"a","title":"t","description":"d","url":"u"},
                                            {"key":"b","title":"t","description":"d"}]})")
            << int(K::KeyNotFound) << "tutorials[1].url";
        QTest::newRow("no tutorials") << "tutorials" << QByteArray(R"({"tutorials":[]})") << -1 << "";
        QTest::newRow("empty config") << "config" << QByteArray(R"({"config":{}})") << -1 << "";
        QTest::newRow("config missing")
            << "config" << QByteArray(R"({"last_updated_at":"x"})") << int(K::KeyNotFound) << "config";
        QTest::newRow("bad dictionary entry")
            << "config" << QByteArray(R"({"config":{"dictionary":[{"term":"a","note":3}]}})")
            << int(K::TypeMismatch) << "config.dictionary[0].note";
        QTest::newRow("array at top")
            << "apple" << QByteArray(R"([{"auth_url":"u","state":"s"}])") << int(K::TypeMismatch) << "";
        QTest::newRow("empty body") << "apple" << QByteArray() << int(K::DataCorrupted) << "";
        QTest::newRow("not json") << "apple" << QByteArray("<html>") << int(K::DataCorrupted) << "";
    }
    void readingRules() {
        QFETCH(QString, type);
        QFETCH(QByteArray, json);
        QFETCH(int, failure);
        QFETCH(QString, path);
        const auto error = readAs(type, json);
        if (failure < 0) {
            QVERIFY2(!error, error ? qPrintable(error->description()) : "");
            return;
        }
        QVERIFY(error);
        QCOMPARE(int(error->kind()), failure);
        QCOMPARE(error->path(), path);
        QVERIFY(error->description().contains(path));
    }

    void readsValuesAsWritten() {
        const auto answer = fromJsonText<CombinedTranscriptionResponseDTO>(
            R"({"text":"Done.","transcript_text":"done","words":-2,"refinement_mode":"email",
                "session":{"total_words":3,"total_minutes":2,"lifetime_words":9007199254740993,"lifetime_minutes":0.25,
                           "profile":{"email":"a@b.c"},"session_token":""},
                "provider_metadata":{"latency":12.5,"tags":["x",null]}})");
        QCOMPARE(answer.text, QStringLiteral("Done."));
        QCOMPARE(answer.words, qint64(-2));
        QCOMPARE(answer.session.total_minutes, 2.0); // a whole number reads as the float
        QCOMPARE(answer.session.lifetime_words, qint64(9007199254740993)); // beyond 2^53, kept exactly
        QCOMPARE(answer.session.session_token, std::optional<QString>(QString()));
        QCOMPARE(answer.session.profile->email, std::optional<QString>("a@b.c"));
        QVERIFY(!answer.session.profile->name);
        QCOMPARE(answer.provider_metadata->at("latency").numberValue(), 12.5);
        QCOMPARE(answer.provider_metadata->at("tags").arrayValue().size(), std::size_t(2));
        QCOMPARE(answer.refinement_mode, std::optional<QString>("email"));

        const auto config =
            fromJsonText<ConfigResponseDTO>(R"({"config":{},"last_updated_at":"yesterday-ish"})");
        QVERIFY(!config.config.settings && !config.config.snippets && !config.config.dictionary);
        QCOMPARE(config.last_updated_at, std::optional<QString>("yesterday-ish"));
        QCOMPARE(fromJsonText<DictionaryEntryDTO>(R"({"term":"Qt","note":null})").note, std::nullopt);
    }

    void writingRules() {
        QCOMPARE(toJsonText(SessionRequest{}), QByteArray("{}"));
        QCOMPARE(toJsonText(UserProfileDTO{}), QByteArray("{}"));

        FormatGenericRequestDTO minimal;
        minimal.text = "";
        QCOMPARE(keysOf(toJsonObject(minimal)), QStringList({"text", "verbatim"}));
        QCOMPARE(toJsonObject(minimal).value("verbatim"), QJsonValue(false));

        FormatGenericRequestDTO withSnippets = minimal;
        withSnippets.snippets = QList<SnippetDTO>{};
        withSnippets.selected_text = "";
        const QJsonObject written = toJsonObject(withSnippets);
        QCOMPARE(written.value("snippets"), QJsonValue(QJsonArray()));
        QCOMPARE(written.value("selected_text"), QJsonValue(""));

        QCOMPARE(toJsonText(DictionaryEntryDTO{"Qt", std::nullopt}), QByteArray(R"({"term":"Qt"})"));
        QCOMPARE(toJsonText(QList<SnippetDTO>{{"sig", "Best"}, {"", ""}}),
                 QByteArray(R"([{"title":"sig","value":"Best"},{"title":"","value":""}])"));

        SessionRequest request;
        request.id_token = "id";
        request.client_platform = "linux";
        request.force_refresh = false;
        request.profile = UserProfileDTO{std::nullopt, QStringLiteral("Ann"), std::nullopt};
        QCOMPARE(toJsonObject(request), QJsonDocument::fromJson(R"({"id_token":"id","client_platform":"linux",
            "force_refresh":false,"profile":{"name":"Ann"}})")
                                            .object());

        ConfigEnvelopeDTO envelope;
        envelope.config.settings = JSONValue::Object{{"auto_space", JSONValue::boolean(true)},
                                                     {"threshold", JSONValue::number(-45.5)},
                                                     {"cleared", JSONValue::null()}};
        const QJsonObject settings =
            toJsonObject(envelope).value("config").toObject().value("settings").toObject();
        QCOMPARE(settings.value("threshold").toDouble(), -45.5);
        QVERIFY(settings.contains("cleared") && settings.value("cleared").isNull());

        SessionResponseDTO notFinite;
        notFinite.total_minutes = qInf();
        QVERIFY_THROWS_EXCEPTION(JsonEncodingError, toJsonText(notFinite));
    }

    void recordsRoundTrip() {
        TranscriptionResponseDTO original;
        original.text = QString::fromUtf8("caf\u00e9 \"quoted\"\n");
        original.words = 2;
        original.session.lifetime_minutes = 0.1;
        original.prompt_used = "p";
        original.provider_metadata = JSONValue::Object{{"k", JSONValue::string("v")}};
        const auto copy = fromJsonText<TranscriptionResponseDTO>(toJsonText(original));
        QCOMPARE(copy.text, original.text);
        QCOMPARE(copy.session.lifetime_minutes, 0.1);
        QCOMPARE(copy.prompt_used, original.prompt_used);
        QVERIFY(!copy.provider);
        QCOMPARE(copy.provider_metadata->at("k").stringValue(), QStringLiteral("v"));
        const TutorialItemDTO item{"intro", "t", "d", "u"};
        QCOMPARE(item.id(), QStringLiteral("intro"));
    }
};

QTEST_GUILESS_MAIN(TestAPIModels)
#include "tst_apimodels.moc"
