#include "AppPaths.h"
#include "JsonFileStore.h"
#include "KnowledgeBaseStore.h"
#include "NotesStore.h"
#include "StoreTestSupport.h"
#include "TranscriptionHistoryStore.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace storetest;

namespace {

const QString kName = QStringLiteral("things.json");

// A decoder that accepts an array of numbers and remembers it.
struct NumberList {
    QList<double> values;
    int calls = 0;
    std::function<void(const QJsonValue&)> decoder() {
        return [this](const QJsonValue& json) {
            ++calls;
            values =
                JsonDecode::decodeArray<double>(json, QString(), [](const QJsonValue& v, const QString& p) {
                    return JsonDecode::decode(v, p, JsonDecode::Tag<double>{});
                });
        };
    }
};

} // namespace

class TestJsonFileStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Fixture::setUpProcess(m_runtime.path()); }
    void init() { m_fixture.start(); }
    void cleanup() { m_fixture.stop(); }

    void storesResolveTheirFileInTheDataFolder() {
        // $XDG_DATA_HOME/quillvane, and the retry recording in its Retry folder.
        QTemporaryDir dataHome;
        const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
        QStandardPaths::setTestModeEnabled(false);
        const auto restore = qScopeGuard([&] {
            QStandardPaths::setTestModeEnabled(true);
            qputenv("XDG_DATA_HOME", savedDataHome);
        });
        const QString folder = dataHome.path() + QStringLiteral("/quillvane");
        QCOMPARE(AppPaths::dataFolder(), folder);
        QCOMPARE(AppPaths::retryFolder(), folder + QStringLiteral("/Retry"));
        QCOMPARE(KnowledgeBaseStore().filePath(), folder + QStringLiteral("/knowledge-base.json"));
        QCOMPARE(NotesStore().filePath(), folder + QStringLiteral("/notes.json"));
        QCOMPARE(TranscriptionHistoryStore().filePath(),
                 folder + QStringLiteral("/transcription-history.json"));
        QCOMPARE(NotesStore(m_fixture.folder()).filePath(), m_fixture.path(QStringLiteral("notes.json")));
    }

    void missingFileIsSilentAndCreatesNothing() {
        JsonFileStore store(kName, QStringLiteral("things"), m_fixture.folder());
        NumberList list;
        QVERIFY(!store.load(list.decoder()));
        QCOMPARE(list.calls, 0);
        QCOMPARE(takeLog(), QStringList());
        QVERIFY(!QFileInfo::exists(m_fixture.folder()));
    }

    void saveCreatesTheFolderAndWritesCompactJson() {
        const QString folder = m_fixture.folder() + QStringLiteral("/deeper/still");
        JsonFileStore store(kName, QStringLiteral("things"), folder);
        QVERIFY(store.save([] { return QJsonValue(QJsonObject{{"k", QJsonArray{1, "two", 3.5}}}); }));
        QCOMPARE(readFile(store.filePath()), QByteArray(R"({"k":[1,"two",3.5]})"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{kName}); // no temporary left

        QVERIFY(store.save([] { return QJsonValue(QJsonArray{}); }));
        QCOMPARE(readFile(store.filePath()), QByteArray("[]"));
        QCOMPARE(takeLog(), QStringList());
    }

    void unreadableFileIsSetAsideAndNeverOverwritten_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not JSON") << QByteArray("[1, 2,") << false << "dataCorrupted";
        QTest::newRow("empty file") << QByteArray() << false << "dataCorrupted";
        QTest::newRow("decoder refuses") << QByteArray(R"([1,"x"])") << false << "typeMismatch at [1]";
        QTest::newRow("invalid UTF-8") << QByteArray("[\"\xff\"]") << false << "dataCorrupted";
        QTest::newRow("a folder in its place") << QByteArray() << true << "";
    }

    void unreadableFileIsSetAsideAndNeverOverwritten() {
        QFETCH(QByteArray, content);
        QFETCH(bool, directory);
        QFETCH(QString, reason);
        const QString path = m_fixture.path(kName);
        if (directory) {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else {
            writeFile(path, content);
        }

        JsonFileStore store(kName, QStringLiteral("things"), m_fixture.folder());
        NumberList list;
        QVERIFY(!store.load(list.decoder()));
        QVERIFY(list.values.isEmpty());

        const QString aside = path + kCorruptSuffix;
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(0).startsWith(QStringLiteral("ERROR Failed to load things: ")),
                 qPrintable(log.at(0)));
        QVERIFY2(log.at(0).contains(reason), qPrintable(log.at(0)));
        QCOMPARE(log.at(1), QStringLiteral("ERROR Set aside the unreadable things file path=") + aside);
        QVERIFY(!QFileInfo::exists(path));
        if (directory) {
            QVERIFY(QFileInfo(aside + QStringLiteral("/inside")).isDir());
        } else {
            QCOMPARE(readFile(aside), content);
        }

        // The store goes on: the next save writes a fresh file and leaves the set-aside one alone.
        QVERIFY(store.save([] { return QJsonValue(QJsonArray{7}); }));
        QCOMPARE(readFile(path), QByteArray("[7]"));
        QCOMPARE(m_fixture.folderEntries(), QStringList({kName, kName + kCorruptSuffix}));
        if (!directory) {
            QCOMPARE(readFile(aside), content);
        }
    }

    void secondBadFileInTheSameSecondGetsItsOwnName() {
        const QString path = m_fixture.path(kName);
        writeFile(path, "first");
        QVERIFY(
            !JsonFileStore(kName, QStringLiteral("things"), m_fixture.folder()).load(NumberList().decoder()));
        writeFile(path, "second");
        QVERIFY(
            !JsonFileStore(kName, QStringLiteral("things"), m_fixture.folder()).load(NumberList().decoder()));

        QCOMPARE(readFile(path + kCorruptSuffix), QByteArray("first"));
        QCOMPARE(readFile(path + kCorruptSuffix + QStringLiteral("-2")), QByteArray("second"));
        QVERIFY(takeLog().contains(QStringLiteral("ERROR Set aside the unreadable things file path=") + path +
                                   kCorruptSuffix + QStringLiteral("-2")));
    }

    void badFileThatCannotBeSetAsideIsKeptAndSavesAreRefused() {
        // A name that fits the file system but is too long once ".corrupt-…" is added, so the rename
        // fails even for a privileged user.
        const QString longName = QString(230, QLatin1Char('n')) + QStringLiteral(".json");
        const QString path = m_fixture.path(longName);
        writeFile(path, "{broken");

        JsonFileStore store(longName, QStringLiteral("things"), m_fixture.folder());
        QVERIFY(!store.load(NumberList().decoder()));
        QVERIFY(!store.save([] { return QJsonValue(QJsonArray{1}); }));

        QCOMPARE(readFile(path), QByteArray("{broken"));
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 3);
        QVERIFY(log.at(0).startsWith(QStringLiteral("ERROR Failed to load things: ")));
        QVERIFY2(log.at(1).startsWith(
                     QStringLiteral("ERROR Failed to set aside the unreadable things file path=") + path +
                     QStringLiteral(" error=")),
                 qPrintable(log.at(1)));
        QVERIFY2(log.at(2).startsWith(QStringLiteral("ERROR Failed to save things: ")),
                 qPrintable(log.at(2)));
    }

    void saveFailuresAreLogged() {
        // The folder cannot be created: a plain file stands where it should go.
        writeFile(m_fixture.path(QStringLiteral("blocker")), "x");
        const QString folder = m_fixture.path(QStringLiteral("blocker")) + QStringLiteral("/sub");
        JsonFileStore blocked(kName, QStringLiteral("things"), folder);
        QVERIFY(!blocked.save([] { return QJsonValue(QJsonArray{}); }));
        QCOMPARE(takeLog(),
                 QStringList{QStringLiteral("ERROR Failed to save things: Could not create the folder ") +
                             folder});

        // A value JSON cannot hold: nothing is written, the old file stays.
        JsonFileStore store(kName, QStringLiteral("things"), m_fixture.folder());
        QVERIFY(store.save([] { return QJsonValue(QJsonArray{1}); }));
        QVERIFY(!store.save([] { return QJsonArray{JsonEncode::finiteNumber(qQNaN())}; }));
        QCOMPARE(readFile(store.filePath()), QByteArray("[1]"));
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 1);
        QVERIFY2(log.at(0).startsWith(QStringLiteral("ERROR Failed to save things: Unable to encode")),
                 qPrintable(log.at(0)));
    }

    void storedFormsAreReadStrictly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isId");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("id upper case") << "E621E1F8-C36C-495A-93FC-0C247A3E6E5F" << true << true;
        QTest::newRow("id lower case") << "e621e1f8-c36c-495a-93fc-0c247a3e6e5f" << true << true;
        QTest::newRow("id in braces") << "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}" << true << false;
        QTest::newRow("id without dashes") << "E621E1F8C36C495A93FC0C247A3E6E5F" << true << false;
        QTest::newRow("id too short") << "E621E1F8-C36C-495A-93FC-0C247A3E6E5" << true << false;
        QTest::newRow("id not hex") << "G621E1F8-C36C-495A-93FC-0C247A3E6E5F" << true << false;
        QTest::newRow("date with Z") << "2026-03-14T15:09:26Z" << false << true;
        QTest::newRow("date with offset") << "2026-03-14T17:09:26+02:00" << false << true;
        QTest::newRow("date with fraction") << "2026-03-14T15:09:26.5Z" << false << false;
        QTest::newRow("date without zone") << "2026-03-14T15:09:26" << false << false;
        QTest::newRow("date only") << "2026-03-14" << false << false;
        QTest::newRow("impossible date") << "2026-02-30T15:09:26Z" << false << false;
    }

    void storedFormsAreReadStrictly() {
        QFETCH(QString, text);
        QFETCH(bool, isId);
        QFETCH(bool, accepted);
        try {
            if (isId) {
                QCOMPARE(JsonFileStore::parseId(text, "[0].id"), QUuid::fromString(text));
            } else {
                QCOMPARE(JsonFileStore::parseDate(text, "[0].timestamp"), kStart);
            }
            QVERIFY(accepted);
        } catch (const DecodingError& error) {
            QVERIFY2(!accepted, qPrintable(error.description()));
            QCOMPARE(error.kind(), DecodingError::Kind::DataCorrupted);
            QCOMPARE(error.path(), isId ? QStringLiteral("[0].id") : QStringLiteral("[0].timestamp"));
        }
    }

private:
    QTemporaryDir m_runtime;
    Fixture m_fixture;
};

QTEST_GUILESS_MAIN(TestJsonFileStore)
#include "tst_jsonfilestore.moc"
