// A full disk must never cost the user's data: every file the application keeps (the three JSON stores,
// the settings, the autostart entry) is written under a file size limit lower than the new content, the
// way a full disk refuses the bytes. The save reports the failure, the log says why, and the file keeps
// its old bytes (or stays absent).

#include "AppLogger.h"
#include "AtomicFile.h"
#include "JsonFileStore.h"
#include "KnowledgeBaseStore.h"
#include "LaunchAtLoginManager.h"
#include "NotesStore.h"
#include "RuntimeLogCapture.h"
#include "TranscriptionHistoryStore.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <optional>

#include <sys/resource.h>

namespace {

// Writes past this many bytes fail with EFBIG ("File too large") while a FileSizeLimit lives; the new
// content of every case is larger, the old one and the settings' lock file smaller.
constexpr rlim_t kLimit = 4096;
const QString kBig(3 * kLimit, QLatin1Char('x'));

// Lowers this process's file size limit, with SIGXFSZ ignored so that the write fails instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
    bool m_active = false;
};

std::optional<QByteArray> contentOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// One kept file: how to give it its old content, and the change that no longer fits, which returns
// whether the save claimed success (nothing where the store reports through its log only).
struct KeptFile {
    QString relativePath;
    std::function<void(const QString& folder)> writeOld;
    std::function<std::optional<bool>(const QString& folder)> writeNew;
    QString expectedLog;
};

} // namespace

Q_DECLARE_METATYPE(KeptFile)

class TestFullDisk : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QStandardPaths::setTestModeEnabled(true);
    }

    void saveOnAFullDiskKeepsTheOldFile_data() {
        QTest::addColumn<KeptFile>("kept");
        // The stores' objects are made before the limit: only the save runs under it.
        QTest::newRow("file store") << KeptFile{
            "things.json",
            [](const QString& folder) {
                JsonFileStore(QStringLiteral("things.json"), QStringLiteral("things"), folder).save([] {
                    return QJsonArray{1, 2};
                });
            },
            [](const QString& folder) -> std::optional<bool> {
                JsonFileStore store(QStringLiteral("things.json"), QStringLiteral("things"), folder);
                FileSizeLimit limit(kLimit);
                return store.save([] { return QJsonArray{kBig}; });
            },
            "ERROR Failed to save things: File too large"};
        QTest::newRow("notes") << KeptFile{
            NotesStore::kFileName,
            [](const QString& folder) {
                NotesStore(folder).createNote("Groceries", "milk", QDateTime::currentDateTimeUtc());
            },
            [](const QString& folder) -> std::optional<bool> {
                NotesStore store(folder);
                FileSizeLimit limit(kLimit);
                store.createNote("Draft", kBig, QDateTime::currentDateTimeUtc());
                return std::nullopt;
            },
            "ERROR Failed to save notes: File too large"};
        QTest::newRow("knowledge base") << KeptFile{
            KnowledgeBaseStore::kFileName,
            [](const QString& folder) { KnowledgeBaseStore(folder).createSnippet("Address", "1 Main St"); },
            [](const QString& folder) -> std::optional<bool> {
                KnowledgeBaseStore store(folder);
                FileSizeLimit limit(kLimit);
                store.createSnippet("Essay", kBig);
                return std::nullopt;
            },
            "ERROR Failed to save knowledge base store: File too large"};
        QTest::newRow("transcription history")
            << KeptFile{TranscriptionHistoryStore::kFileName,
                        [](const QString& folder) {
                            TranscriptionHistoryStore(folder).addEntry("hello", {}, "Editor", 1.5);
                        },
                        [](const QString& folder) -> std::optional<bool> {
                            TranscriptionHistoryStore store(folder);
                            FileSizeLimit limit(kLimit);
                            store.addEntry(kBig, {}, "Editor", 9.0);
                            return std::nullopt;
                        },
                        "ERROR Failed to save transcription history: File too large"};
        QTest::newRow("settings") << KeptFile{
            "settings.json",
            [](const QString& folder) {
                UserDefaults(QDir(folder).filePath("settings.json")).setBool("quillvane.flag", true);
            },
            [](const QString& folder) -> std::optional<bool> {
                UserDefaults defaults(QDir(folder).filePath("settings.json"));
                FileSizeLimit limit(kLimit);
                return defaults.setString("quillvane.big", kBig);
            },
            "ERROR Failed to save settings: File too large"};
        // Written once on the first run, when there is none: none must stay none (an empty entry would
        // read as "enabled" and start nothing).
        QTest::newRow("autostart entry") << KeptFile{
            "config/autostart/quillvane.desktop", [](const QString&) {},
            [](const QString& folder) -> std::optional<bool> {
                UserDefaults defaults(QDir(folder).filePath("settings.json"));
                LaunchAtLoginManager manager(defaults, QDir(folder).filePath("config"), "/opt/" + kBig);
                {
                    FileSizeLimit limit(kLimit);
                    manager.refresh();
                }
                return manager.isEnabled();
            },
            "ERROR Failed to enable launch at login by default: File too large"};
    }

    void saveOnAFullDiskKeepsTheOldFile() {
        QFETCH(KeptFile, kept);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(kept.relativePath);
        kept.writeOld(folder.path());
        const std::optional<QByteArray> before = contentOf(path);
        QVERIFY(before.value_or("-") != QByteArray()); // there is something to lose, or no file

        RuntimeLogCapture log;
        QVERIFY2(kept.writeNew(folder.path()) != std::optional<bool>(true), "the save claimed success");
        QCOMPARE(contentOf(path), before);
        QVERIFY2(log.entries().contains(kept.expectedLog), qPrintable(log.entries().join('\n')));
        // No temporary file is left beside it.
        const QFileInfo info(path);
        QStringList beside = info.dir().entryList({info.fileName() + "*"}, QDir::Files | QDir::Hidden);
        beside.removeAll(info.fileName());
        QCOMPARE(beside, QStringList());
    }

    void theWriteGoesThroughOnceThereIsRoomAgain() {
        QTemporaryDir folder;
        const QString path = folder.filePath("file");
        QVERIFY(AtomicFile::replace(path, "old"));
        QString error;
        {
            FileSizeLimit limit(kLimit);
            QVERIFY(limit.active());
            QVERIFY(!AtomicFile::replace(path, kBig.toUtf8(), &error));
        }
        QCOMPARE(error, QStringLiteral("File too large"));
        QCOMPARE(contentOf(path), QByteArray("old"));
        QVERIFY(AtomicFile::replace(path, kBig.toUtf8(), &error));
        QCOMPARE(contentOf(path), kBig.toUtf8());

        // A setting that did not reach the disk is still seen, and goes out with the next change.
        UserDefaults defaults(folder.filePath("settings.json"));
        defaults.setBool("quillvane.flag", true);
        {
            RuntimeLogCapture log;
            FileSizeLimit limit(kLimit);
            QVERIFY(!defaults.setString("quillvane.big", kBig));
        }
        QCOMPARE(defaults.stringValue("quillvane.big"), kBig);
        QVERIFY(defaults.setBool("quillvane.other", false));
        QVERIFY(contentOf(folder.filePath("settings.json")).value_or("").contains(kBig.toUtf8()));
    }

    void cleanupTestCase() { AppLogger::flush(); }

private:
    QTemporaryDir m_runtime;
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_full_disk.moc"
