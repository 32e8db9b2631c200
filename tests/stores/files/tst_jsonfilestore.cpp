#include "AppPaths.h"
#include "JsonFileStore.h"
#include "KnowledgeBaseStore.h"
#include "NotesStore.h"
#include "StorageNotices.h"
#include "StoreTestSupport.h"
#include "TranscriptionHistoryStore.h"

#include <QJsonArray>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

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

// The permission bits of a file or folder (0600, 0700…); -1 when it is not there.
int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Makes `folder` one this process cannot create files in, for as long as it lives: its mode loses the write
// bits, and a privileged process (which writes anyway) acts as user "nobody" meanwhile, with the folders
// above it opened for reading so that "nobody" can look into it.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder)
        : m_folder(folder), m_parent(QFileInfo(folder).absolutePath()) {
        m_active = ::chmod(QFile::encodeName(m_folder).constData(), 0555) == 0;
        if (m_active && ::geteuid() == 0) {
            AppLogger::flush();
            m_active = ::chmod(QFile::encodeName(m_parent).constData(), 0755) == 0 && ::seteuid(65534) == 0;
            m_switched = m_active;
        }
    }
    ~ReadOnlyFolder() {
        if (m_switched) {
            AppLogger::flush();
            [[maybe_unused]] const int back = ::seteuid(0);
            ::chmod(QFile::encodeName(m_parent).constData(), 0700);
        }
        ::chmod(QFile::encodeName(m_folder).constData(), 0755);
    }
    bool active() const { return m_active; }

private:
    QString m_folder;
    QString m_parent;
    bool m_active = false;
    bool m_switched = false;
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

    void ownerOnlyStoreKeepsItsFolderAndFileToItsOwner() {
        JsonFileStore store(kName, QStringLiteral("things"), m_fixture.folder());
        store.restrictToOwner();
        QVERIFY(store.save([] { return QJsonValue(QJsonArray{1}); }));
        QCOMPARE(modeOf(m_fixture.folder()), 0700);
        QCOMPARE(modeOf(store.filePath()), 0600);

        // A file an earlier version left readable by others is made its owner's when it is read.
        QVERIFY(::chmod(QFile::encodeName(store.filePath()).constData(), 0644) == 0);
        JsonFileStore again(kName, QStringLiteral("things"), m_fixture.folder());
        again.restrictToOwner();
        NumberList list;
        QVERIFY(again.load(list.decoder()));
        QCOMPARE(modeOf(store.filePath()), 0600);
        QCOMPARE(list.values, QList<double>{1});
    }

    void entriesThatCannotBeReadAreLeftOutAndTold_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<double>>("kept");
        QTest::addColumn<QString>("notice"); // its start; it ends with the path the file was kept at
        QTest::newRow("one bad entry") << QByteArray(R"([1,"x",3])") << QList<double>{1, 3}
                                       << "Part of your things could not be read (1 left out). The file as "
                                          "it was is kept at ";
        QTest::newRow("no good entry") << QByteArray(R"([null,{}])") << QList<double>{}
                                       << "Part of your things could not be read (2 left out). The file as "
                                          "it was is kept at ";
        QTest::newRow("not JSON") << QByteArray("[1,") << QList<double>{}
                                  << "Your things could not be read. The file is kept at ";
    }

    void entriesThatCannotBeReadAreLeftOutAndTold() {
        QFETCH(QByteArray, content);
        QFETCH(QList<double>, kept);
        QFETCH(QString, notice);
        StorageNotices::instance().clear();
        writeFile(m_fixture.path(kName), content);
        JsonFileStore store(kName, QStringLiteral("things"), m_fixture.folder());
        QList<double> values;
        const bool loaded = store.load([&](const QJsonValue& json) {
            values = store.decodeEntries<double>(json, QString(), [](const QJsonValue& v, const QString& p) {
                return JsonDecode::decode(v, p, JsonDecode::Tag<double>{});
            });
        });
        QCOMPARE(values, kept);
        QCOMPARE(loaded, content != "[1,");
        QCOMPARE(store.entriesLeftOut(),
                 loaded ? int(QJsonDocument::fromJson(content).array().size() - kept.size()) : 0);
        QCOMPARE(readFile(m_fixture.path(kName) + kCorruptSuffix), content);
        QCOMPARE(StorageNotices::instance().texts(),
                 QStringList{notice + m_fixture.path(kName) + kCorruptSuffix});
        StorageNotices::instance().clear();
    }

    void aFolderThatCannotBeWrittenToIsTold() {
        StorageNotices::instance().clear();
        writeFile(m_fixture.path(kName), "[1]");
        const QString folder = m_fixture.folder();
        const QString expected =
            QStringLiteral("The folder %1 cannot be written to: changes to your history, "
                           "notes and knowledge base are not saved.")
                .arg(folder);
        {
            ReadOnlyFolder readOnly(folder);
            QVERIFY(readOnly.active());
            JsonFileStore store(kName, QStringLiteral("things"), folder);
            NumberList list;
            QVERIFY(store.load(list.decoder()));
            QCOMPARE(list.values, QList<double>{1}); // what is there is still shown
            QCOMPARE(StorageNotices::instance().texts(), QStringList{expected});
            QVERIFY(!store.save([] { return QJsonValue(QJsonArray{2}); }));
            QCOMPARE(StorageNotices::instance().texts(), QStringList{expected}); // one notice, not two
        }
        // Writable again: the next save that succeeds takes the notice back.
        JsonFileStore store(kName, QStringLiteral("things"), folder);
        QVERIFY(store.save([] { return QJsonValue(QJsonArray{2}); }));
        QCOMPARE(StorageNotices::instance().texts(), QStringList());
        QCOMPARE(readFile(store.filePath()), QByteArray("[2]"));
        takeLog();
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
