#include "AppLogger.h"
#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct CapturedMessage {
    QtMsgType type;
    QString category;
    QString text;
};

std::mutex g_capturedMutex;
QList<CapturedMessage> g_captured;

// The worker thread reports file failures, so this may run on any thread.
void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    std::lock_guard lock(g_capturedMutex);
    g_captured.append({type, QString::fromUtf8(context.category), text});
}

QList<CapturedMessage> takeCaptured() {
    std::lock_guard lock(g_capturedMutex);
    return std::exchange(g_captured, {});
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QDateTime kMoment(QDate(2026, 12, 9), QTime(9, 43, 6, 123), Qt::UTC);

} // namespace

class TestAppLogger : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lineFormat_data();
    void lineFormat();

    void firstCallCreatesPrivateFileWithOneLine();
    void laterCallsAppend();
    void runtimeCategoryGetsTheMessage();
    void linesFromSeveralThreadsAllArrive();
    void unwritableFileIsReportedAndLineDropped();
    void fileRotatesAtTheLimitKeepingOnePreviousFile();

private:
    QTemporaryDir m_runtime;
    ManualClock m_clock{kMoment};
    QtMessageHandler m_previousHandler = nullptr;
};

void TestAppLogger::initTestCase() {
    QVERIFY(m_runtime.isValid());
    // The file's folder is fixed on the logger's first use, which has not happened yet.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestAppLogger::init() {
    m_clock.setNow(kMoment);
    Clock::setCurrent(&m_clock);
    takeCaptured();
    m_previousHandler = qInstallMessageHandler(captureMessage);
}

void TestAppLogger::cleanup() {
    AppLogger::flush();
    qInstallMessageHandler(m_previousHandler);
    Clock::setCurrent(nullptr);
}

void TestAppLogger::lineFormat_data() {
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("expected");

    QTest::newRow("info") << "INFO"
                          << "Loaded notes entries=3" << kMoment
                          << "[2026-12-09T09:43:06.123Z] [INFO] Loaded notes entries=3\n";
    QTest::newRow("error") << "ERROR"
                           << "Request failed" << kMoment
                           << "[2026-12-09T09:43:06.123Z] [ERROR] Request failed\n";
    QTest::newRow("empty message") << "INFO"
                                   << "" << kMoment << "[2026-12-09T09:43:06.123Z] [INFO] \n";
    QTest::newRow("line feed and blanks kept")
        << "INFO"
        << "  first\nsecond  " << kMoment << "[2026-12-09T09:43:06.123Z] [INFO]   first\nsecond  \n";
    QTest::newRow("whole second shows .000") << "INFO"
                                             << "x" << QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC)
                                             << "[2026-01-02T03:04:05.000Z] [INFO] x\n";
    QTest::newRow("moment written in UTC")
        << "INFO"
        << "x" << QDateTime(QDate(2026, 12, 9), QTime(0, 30, 0, 7), Qt::OffsetFromUTC, 2 * 3600)
        << "[2026-12-08T22:30:00.007Z] [INFO] x\n";
}

void TestAppLogger::lineFormat() {
    QFETCH(QString, level);
    QFETCH(QString, message);
    QFETCH(QDateTime, moment);
    QFETCH(QString, expected);
    QCOMPARE(AppLogger::formatLine(level, message, moment), expected);
}

void TestAppLogger::firstCallCreatesPrivateFileWithOneLine() {
    const QString path = AppLogger::logFilePath();
    QCOMPARE(path, m_runtime.path() + QStringLiteral("/quillvane/quillvane-runtime.log"));
    QVERIFY(!QFile::exists(path));

    AppLogger::info(QStringLiteral("Started é"));
    AppLogger::flush();

    QCOMPARE(readAll(path), QByteArray("[2026-12-09T09:43:06.123Z] [INFO] Started \xc3\xa9\n"));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void TestAppLogger::laterCallsAppend() {
    const QString path = AppLogger::logFilePath();
    AppLogger::info(QStringLiteral("before"));
    AppLogger::flush();
    const QByteArray before = readAll(path);
    QVERIFY(!before.isEmpty());

    m_clock.advance(std::chrono::milliseconds(1500));
    AppLogger::error(QStringLiteral("two\nlines"));
    AppLogger::info(QString());
    AppLogger::flush();

    QCOMPARE(readAll(path), before + "[2026-12-09T09:43:07.623Z] [ERROR] two\nlines\n"
                                     "[2026-12-09T09:43:07.623Z] [INFO] \n");
}

void TestAppLogger::runtimeCategoryGetsTheMessage() {
    AppLogger::info(QStringLiteral("100% %s done"));
    AppLogger::error(QStringLiteral("Save failed reason=disk full"));

    const auto captured = takeCaptured();
    QCOMPARE(captured.size(), 2);
    QCOMPARE(captured.at(0).type, QtInfoMsg);
    QCOMPARE(captured.at(0).category, QStringLiteral("runtime"));
    QCOMPARE(captured.at(0).text, QStringLiteral("100% %s done"));
    QCOMPARE(captured.at(1).type, QtCriticalMsg);
    QCOMPARE(captured.at(1).category, QStringLiteral("runtime"));
    QCOMPARE(captured.at(1).text, QStringLiteral("Save failed reason=disk full"));
}

void TestAppLogger::linesFromSeveralThreadsAllArrive() {
    Clock::setCurrent(nullptr); // the manual clock is not meant to be shared between threads
    const QString path = AppLogger::logFilePath();
    QVERIFY(QFile::remove(path));

    constexpr int kThreads = 4;
    constexpr int kLinesPerThread = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerThread; ++i) {
                AppLogger::info(QStringLiteral("thread=%1 line=%2").arg(t).arg(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    AppLogger::flush();

    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), kThreads * kLinesPerThread + 1);
    QVERIFY(lines.last().isEmpty());
    QList<int> nextLine(kThreads, 0);
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[INFO\] thread=(\d+) line=(\d+)$)"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const auto match = pattern.match(QString::fromUtf8(lines.at(i)));
        QVERIFY2(match.hasMatch(), lines.at(i).constData());
        const int thread = match.captured(1).toInt();
        // Each thread's lines arrive whole and in the order that thread submitted them.
        QCOMPARE(match.captured(2).toInt(), nextLine[thread]);
        ++nextLine[thread];
    }
    QCOMPARE(nextLine, QList<int>(kThreads, kLinesPerThread));
}

void TestAppLogger::unwritableFileIsReportedAndLineDropped() {
    const QString path = AppLogger::logFilePath();
    QFile::remove(path);
    QVERIFY(QDir().mkdir(path));

    AppLogger::info(QStringLiteral("lost"));
    AppLogger::flush();

    const auto captured = takeCaptured();
    QCOMPARE(captured.size(), 2); // the message itself, then the failure from the file sink
    QCOMPARE(captured.at(1).type, QtCriticalMsg);
    QCOMPARE(captured.at(1).category, QStringLiteral("runtime"));
    QVERIFY2(captured.at(1).text.startsWith(QStringLiteral("Failed to append log file: ")),
             qPrintable(captured.at(1).text));
    QVERIFY2(captured.at(1).text.size() > QStringLiteral("Failed to append log file: ").size(),
             "no reason given");

    // The lost line is not retried once the file can be written again.
    QVERIFY(QDir().rmdir(path));
    AppLogger::info(QStringLiteral("after"));
    AppLogger::flush();
    QCOMPARE(readAll(path), QByteArray("[2026-12-09T09:43:06.123Z] [INFO] after\n"));
}

void TestAppLogger::fileRotatesAtTheLimitKeepingOnePreviousFile() {
    const QString path = AppLogger::logFilePath();
    const QString previous = AppLogger::previousLogFilePath();
    QCOMPARE(previous, path + QStringLiteral(".1"));
    QFile::remove(path);

    // Lines of about 4 KiB, numbered: a file holds `perFile` of them, the next one starts a new file.
    const QString payload(4000, QLatin1Char('x'));
    const auto message = [&](int n) {
        return QStringLiteral("n=%1 ").arg(n, 4, 10, QLatin1Char('0')) + payload;
    };
    const qint64 lineBytes =
        AppLogger::formatLine(QStringLiteral("INFO"), message(0), kMoment).toUtf8().size();
    const int perFile = int(AppLogger::kMaxFileBytes / lineBytes);
    const int total = 2 * perFile + 3; // two rotations
    for (int n = 0; n < total; ++n) {
        AppLogger::info(message(n));
    }
    AppLogger::flush();

    // The numbers each file holds, in order; every line whole.
    const auto numbersIn = [&](const QString& file) {
        QList<int> numbers;
        const QList<QByteArray> lines = readAll(file).split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromUtf8(lines.at(i));
            if (!line.endsWith(payload)) {
                return QList<int>{-1};
            }
            numbers << line.section(QLatin1Char(' '), 2, 2).mid(2).toInt();
        }
        return numbers;
    };
    QList<int> expectedCurrent;
    QList<int> expectedPrevious;
    for (int n = perFile; n < 2 * perFile; ++n) {
        expectedPrevious << n;
    }
    for (int n = 2 * perFile; n < total; ++n) {
        expectedCurrent << n;
    }
    QCOMPARE(numbersIn(previous), expectedPrevious); // the first file's lines are gone, none in between
    QCOMPARE(numbersIn(path), expectedCurrent);
    QVERIFY(QFileInfo(previous).size() <= AppLogger::kMaxFileBytes);
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files, QDir::Name),
             (QStringList{QFileInfo(path).fileName(), QFileInfo(previous).fileName()}));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(previous).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);

    // The file stays open between lines.
    bool open = false;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : descriptors.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        open = open || QFile::symLinkTarget(descriptors.filePath(fd)) == path;
    }
    QVERIFY(open);

    // A full file found at the path (left by an earlier run) is set aside before the next line.
    const QByteArray earlier(AppLogger::kMaxFileBytes, 'e');
    {
        QFile file(path + QStringLiteral(".new"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(earlier), earlier.size());
    }
    QVERIFY(::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                     QFile::encodeName(path).constData()) == 0);
    AppLogger::info(QStringLiteral("after a restart"));
    AppLogger::flush();
    QCOMPARE(readAll(previous), earlier);
    QCOMPARE(readAll(path), QByteArray("[2026-12-09T09:43:06.123Z] [INFO] after a restart\n"));
}

QTEST_GUILESS_MAIN(TestAppLogger)
#include "tst_applogger.moc"
