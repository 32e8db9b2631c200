#include "StorageNotices.h"
#include "StoreTestSupport.h"
#include "TranscriptionHistoryStore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>

#include <cmath>

using namespace storetest;
using namespace std::chrono_literals;

namespace {

const QString kFile = QStringLiteral("transcription-history.json");

// Entries are not comparable; compare every member through one line of text.
QStringList describe(const QList<TranscriptionHistoryEntry>& entries) {
    QStringList lines;
    for (const TranscriptionHistoryEntry& e : entries) {
        lines << QStringLiteral("%1|%2|%3|%4|%5|%6")
                     .arg(e.id.toString(), e.timestamp.toUTC().toString(Qt::ISODateWithMs), e.text,
                          e.provider.value_or(QStringLiteral("<none>")), e.appContext,
                          QString::number(e.durationSeconds, 'g', 17));
    }
    return lines;
}

QByteArray entryJson(int index) {
    return QStringLiteral(
               R"({"id":"00000000-0000-0000-0000-%1","timestamp":"2026-03-14T15:09:26Z","text":"t%2",)"
               R"("appContext":"Mail","durationSeconds":1})")
        .arg(index, 12, 10, QLatin1Char('0'))
        .arg(index)
        .toUtf8();
}

} // namespace

class TestTranscriptionHistoryStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Fixture::setUpProcess(m_runtime.path()); }
    void init() { m_fixture.start(); }
    void cleanup() { m_fixture.stop(); }

    void roundTripThroughTheFile() {
        QList<TranscriptionHistoryEntry> entries;
        {
            TranscriptionHistoryStore store(m_fixture.folder());
            QSignalSpy changed(&store, &TranscriptionHistoryStore::entriesChanged);
            store.addEntry(QStringLiteral("Hello \"world\" 🎉"), QStringLiteral("backend"),
                           QStringLiteral("Mail (COMMUNICATION) - Re the offer"), 3.25);
            m_fixture.clock().advance(1500ms);
            store.addEntry(QString(), std::nullopt, QStringLiteral("AI Mode"), 0.1);
            QCOMPARE(changed.count(), 2);
            entries = store.entries();
        }
        QCOMPARE(entries.at(0).text, QString()); // newest first
        QCOMPARE(entries.at(0).timestamp, kStart.addMSecs(1500));
        QCOMPARE(
            takeLog(),
            QStringList({"INFO History entry added provider=backend context=Mail (COMMUNICATION) chars=15",
                         "INFO History entry added provider=unknown context=AI Mode chars=0"}));

        const QByteArray text = readFile(m_fixture.path(kFile));
        QVERIFY(!text.contains('\n') && !text.contains(": "));
        const QJsonArray array = QJsonDocument::fromJson(text).array();
        QVERIFY(!array.at(0).toObject().contains("provider")); // absent, not null
        QCOMPARE(array.at(0).toObject().value("timestamp").toString(),
                 QStringLiteral("2026-03-14T15:09:27Z"));
        QCOMPARE(array.at(1).toObject().value("id").toString(),
                 entries.at(1).id.toString(QUuid::WithoutBraces).toUpper());

        TranscriptionHistoryStore reloaded(m_fixture.folder());
        entries[0].timestamp = kStart.addSecs(1); // written with whole seconds
        QCOMPARE(describe(reloaded.entries()), describe(entries));
        QCOMPARE(takeLog(), QStringList{"INFO Loaded transcription history entries=2"});
    }

    void nullProviderReadsAsAbsent() {
        writeFile(
            m_fixture.path(kFile),
            R"([{"provider":null,"durationSeconds":2.5,"appContext":"x","text":"t","timestamp":"2026-03-14T15:09:26Z",)"
            R"("id":"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"}])");
        TranscriptionHistoryStore store(m_fixture.folder());
        QCOMPARE(store.entries().size(), 1);
        QCOMPARE(store.entries().at(0).provider, std::nullopt);
        QCOMPARE(store.entries().at(0).durationSeconds, 2.5);
        QCOMPARE(store.entries().at(0).id,
                 QUuid::fromString(QStringLiteral("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE")));
    }

    void keepsTheNewestHundred() {
        TranscriptionHistoryStore store(m_fixture.folder());
        for (int i = 1; i <= 101; ++i) {
            store.addEntry(QString::number(i), QStringLiteral("p"), QStringLiteral("c"), i);
        }
        QCOMPARE(store.entries().size(), 100);
        QCOMPARE(store.entries().first().text, QStringLiteral("101"));
        QCOMPARE(store.entries().last().text, QStringLiteral("2"));
        const QJsonArray file = readJson(m_fixture.path(kFile)).array();
        QCOMPARE(file.size(), 100);
        QCOMPARE(file.first().toObject().value("text").toString(), QStringLiteral("101"));
    }

    void longerFileLoadsWholeAndTheNextAdditionCuts() {
        QByteArray content = "[";
        for (int i = 0; i < 150; ++i) {
            content += (i ? "," : "") + entryJson(i);
        }
        writeFile(m_fixture.path(kFile), content + "]");
        TranscriptionHistoryStore store(m_fixture.folder());
        QCOMPARE(store.entries().size(), 150);
        QCOMPARE(takeLog(), QStringList{"INFO Loaded transcription history entries=150"});

        store.addEntry(QStringLiteral("new"), std::nullopt, QStringLiteral("c"), 1);
        QCOMPARE(store.entries().size(), 100);
        QCOMPARE(store.entries().first().text, QStringLiteral("new"));
        QCOMPARE(store.entries().last().text, QStringLiteral("t98"));
        QCOMPARE(readJson(m_fixture.path(kFile)).array().size(), 100);
    }

    void silenceIsStoredButNotLogged_data() {
        QTest::addColumn<std::optional<QString>>("provider");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("silence") << std::optional<QString>("silence") << QStringList();
        QTest::newRow("any case") << std::optional<QString>("SiLeNcE") << QStringList();
        QTest::newRow("not quite") << std::optional<QString>(" silence")
                                   << QStringList{
                                          "INFO History entry added provider= silence context=c chars=2"};
        QTest::newRow("absent") << std::optional<QString>()
                                << QStringList{"INFO History entry added provider=unknown context=c chars=2"};
    }

    void silenceIsStoredButNotLogged() {
        QFETCH(std::optional<QString>, provider);
        QFETCH(QStringList, log);
        TranscriptionHistoryStore store(m_fixture.folder());
        store.addEntry(QStringLiteral("é!"), provider, QStringLiteral("c"), 0);
        QCOMPARE(takeLog(), log);
        QCOMPARE(store.entries().size(), 1);
        QCOMPARE(describe(TranscriptionHistoryStore(m_fixture.folder()).entries()),
                 describe(store.entries()));
    }

    void logKeepsPercentSignsOfTheCaller() {
        TranscriptionHistoryStore store(m_fixture.folder());
        store.addEntry(QStringLiteral("x"), QStringLiteral("%1 %3"), QStringLiteral("%2"), 0);
        QCOMPARE(takeLog(), QStringList{"INFO History entry added provider=%1 %3 context=%2 chars=1"});
    }

    void durationThatJsonCannotHoldIsStoredAsZero() {
        TranscriptionHistoryStore store(m_fixture.folder());
        store.addEntry(QStringLiteral("a"), std::nullopt, QStringLiteral("c"), qQNaN());
        store.addEntry(QStringLiteral("b"), std::nullopt, QStringLiteral("c"), qInf());
        store.addEntry(QStringLiteral("c"), std::nullopt, QStringLiteral("c"), 2.5);
        for (const QString& line : takeLog()) {
            QVERIFY2(line.startsWith(QStringLiteral("INFO ")), qPrintable(line)); // every save succeeded
        }
        TranscriptionHistoryStore reloaded(m_fixture.folder());
        QCOMPARE(reloaded.entries().size(), 3);
        QCOMPARE(reloaded.entries().at(0).durationSeconds, 2.5);
        QCOMPARE(reloaded.entries().at(1).durationSeconds, 0.0);
        QCOMPARE(reloaded.entries().at(2).durationSeconds, 0.0);
    }

    void failedSaveKeepsTheEntry() {
        writeFile(m_fixture.folder(), "a file where the folder should be");
        TranscriptionHistoryStore store(m_fixture.folder());
        store.addEntry(QStringLiteral("t"), std::nullopt, QStringLiteral("c"), 1);
        QCOMPARE(store.entries().size(), 1);
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).startsWith(QStringLiteral("ERROR Failed to save transcription history: ")),
                 qPrintable(log.at(1)));
    }

    void unreadableEntriesAreLeftOutAndTheFileSetAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("kept"); // the texts of the entries that survive
        QTest::addColumn<int>("leftOut");      // 0: nothing could be read
        const QByteArray good = entryJson(1);
        const QStringList first{QStringLiteral("t1")};
        QTest::newRow("fractional seconds")
            << "[" + good + "," + QByteArray(entryJson(2)).replace("26Z", "26.250Z") + "]" << first << 1;
        QTest::newRow("duration as text")
            << "[" + QByteArray(entryJson(2)).replace("\"durationSeconds\":1", "\"durationSeconds\":\"1\"") +
                   "," + good + "]"
            << first << 1;
        QTest::newRow("the only entry lacks appContext")
            << "[" + QByteArray(good).replace("\"appContext\":\"Mail\",", "") + "]" << QStringList() << 1;
        QTest::newRow("provider of the wrong kind, between good ones")
            << "[" + good + "," + QByteArray(entryJson(2)).replace("{", "{\"provider\":7,") + "," +
                   entryJson(3) + "]"
            << QStringList{QStringLiteral("t1"), QStringLiteral("t3")} << 1;
        QTest::newRow("two bad ones") << "[1," + good + ",null]" << first << 2;
        QTest::newRow("not JSON") << QByteArray("\x00\x01garbage", 9) << QStringList() << 0;
        QTest::newRow("an object at the top") << "{\"entries\":[" + good + "]}" << QStringList() << 0;
    }

    void unreadableEntriesAreLeftOutAndTheFileSetAside() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, kept);
        QFETCH(int, leftOut);
        writeFile(m_fixture.path(kFile), content);
        const QString aside = m_fixture.path(kFile) + kCorruptSuffix;
        TranscriptionHistoryStore store(m_fixture.folder());
        QStringList texts;
        for (const TranscriptionHistoryEntry& entry : store.entries()) {
            texts << entry.text;
        }
        QCOMPARE(texts, kept);
        const QString problem =
            setAsideLogProblem(takeLog(), QStringLiteral("transcription history"), aside, leftOut);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(readFile(aside), content);
        QVERIFY(StorageNotices::instance().texts().join(QLatin1Char('\n')).contains(aside));

        // The entries kept are in the file again at once; the next addition goes on top of them.
        QCOMPARE(describe(TranscriptionHistoryStore(m_fixture.folder()).entries()),
                 describe(store.entries()));
        store.addEntry(QStringLiteral("fresh"), std::nullopt, QStringLiteral("c"), 1);
        QCOMPARE(describe(TranscriptionHistoryStore(m_fixture.folder()).entries()),
                 describe(store.entries()));
        QCOMPARE(readFile(aside), content);
    }

private:
    QTemporaryDir m_runtime;
    Fixture m_fixture;
};

QTEST_GUILESS_MAIN(TestTranscriptionHistoryStore)
#include "tst_transcriptionhistorystore.moc"
