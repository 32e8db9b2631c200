#include "AppLogger.h"
#include "EnvLoader.h"
#include "RuntimeLogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

namespace {

const QString kPrefix = QStringLiteral("QUILLVANE_ENVTEST_");

// Every QUILLVANE_ENVTEST_ variable as "NAME=VALUE", sorted.
QStringList testVariables() {
    QStringList result;
    const auto environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(kPrefix)) {
            result << name + QLatin1Char('=') + environment.value(name);
        }
    }
    result.sort();
    return result;
}

void writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

// Info lines of the "runtime" category, captured on the calling thread.
std::mutex g_capturedMutex;
QStringList g_capturedInfo;

void captureRuntimeInfo(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtInfoMsg && qstrcmp(context.category, "runtime") == 0) {
        std::lock_guard lock(g_capturedMutex);
        g_capturedInfo << message;
    }
}

} // namespace

class TestEnvLoader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parsing_data();
    void parsing();

    void candidateOrder_data();
    void candidateOrder();

    void onlyTheAppsVariablesAreSet();
    void loadsOnlyTheFirstExistingCandidate();
    void directoryNamedDotEnvEndsTheSearch();
    void logsWhenNoFileIsFound();

private:
    QString root() const { return m_tree->path(); }
    QStringList loadFromWorkingDirectory(const QString& directory);

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_tree;
    QString m_originalDirectory;
};

void TestEnvLoader::initTestCase() {
    QVERIFY(m_runtime.isValid());
    // Keep the logger's file out of the user's own runtime folder.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    m_originalDirectory = QDir::currentPath();
}

void TestEnvLoader::init() {
    m_tree = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tree->isValid());
    QVERIFY(testVariables().isEmpty());
}

void TestEnvLoader::cleanup() {
    QDir::setCurrent(m_originalDirectory);
    for (const QString& assignment : testVariables()) {
        qunsetenv(assignment.section(QLatin1Char('='), 0, 0).toUtf8().constData());
    }
    m_tree.reset();
}

void TestEnvLoader::parsing_data() {
    QTest::addColumn<QStringList>("preset");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("expected");

    const QStringList none;
    QTest::newRow("plain assignment")
        << none << QByteArray("QUILLVANE_ENVTEST_A=1\n") << QStringList{"QUILLVANE_ENVTEST_A=1"};
    QTest::newRow("no final line feed")
        << none << QByteArray("QUILLVANE_ENVTEST_A=1") << QStringList{"QUILLVANE_ENVTEST_A=1"};
    QTest::newRow("blanks around name and value trimmed, inner kept")
        << none << QByteArray("  \tQUILLVANE_ENVTEST_A  =  two words \t\n")
        << QStringList{"QUILLVANE_ENVTEST_A=two words"};
    QTest::newRow("only the first equals sign splits")
        << none << QByteArray("QUILLVANE_ENVTEST_A = b=c =\n") << QStringList{"QUILLVANE_ENVTEST_A=b=c ="};
    QTest::newRow("name with nothing after the equals sign is empty")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\nQUILLVANE_ENVTEST_B=   \n")
        << QStringList{"QUILLVANE_ENVTEST_A=", "QUILLVANE_ENVTEST_B="};
    QTest::newRow("empty name ignored") << none << QByteArray("=x\n   = y\n") << QStringList{};
    QTest::newRow("no equals sign ignored")
        << none << QByteArray("QUILLVANE_ENVTEST_A\nQUILLVANE_ENVTEST_B 1\n") << QStringList{};
    QTest::newRow("comments ignored")
        << none << QByteArray("# QUILLVANE_ENVTEST_A=1\n   #QUILLVANE_ENVTEST_B=2\n") << QStringList{};
    QTest::newRow("number sign inside a value kept")
        << none << QByteArray("QUILLVANE_ENVTEST_A=a#b # c\n") << QStringList{"QUILLVANE_ENVTEST_A=a#b # c"};
    QTest::newRow("double quotes removed, inner blanks kept")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\" spaced \"\n") << QStringList{"QUILLVANE_ENVTEST_A= spaced "};
    QTest::newRow("single quotes removed")
        << none << QByteArray("QUILLVANE_ENVTEST_A='x y'\n") << QStringList{"QUILLVANE_ENVTEST_A=x y"};
    QTest::newRow("empty quotes give the empty string")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\"\"\n") << QStringList{"QUILLVANE_ENVTEST_A="};
    QTest::newRow("only one pair of quotes removed")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\"'x'\"\n") << QStringList{"QUILLVANE_ENVTEST_A='x'"};
    QTest::newRow("mismatched quotes kept")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\"x'\nQUILLVANE_ENVTEST_B='x\"\n")
        << QStringList{"QUILLVANE_ENVTEST_A=\"x'", "QUILLVANE_ENVTEST_B='x\""};
    QTest::newRow("a lone quote kept") << none << QByteArray("QUILLVANE_ENVTEST_A=\"\nQUILLVANE_ENVTEST_B='\n")
                                       << QStringList{"QUILLVANE_ENVTEST_A=\"", "QUILLVANE_ENVTEST_B='"};
    QTest::newRow("no escapes, no expansion")
        << none << QByteArray("QUILLVANE_ENVTEST_A=\"$HOME\\n\"\n") << QStringList{"QUILLVANE_ENVTEST_A=$HOME\\n"};
    QTest::newRow("CR LF line ends") << none << QByteArray("QUILLVANE_ENVTEST_A=1\r\nQUILLVANE_ENVTEST_B=\"2\"\r\n")
                                     << QStringList{"QUILLVANE_ENVTEST_A=1", "QUILLVANE_ENVTEST_B=2"};
    QTest::newRow("Unicode line separator splits")
        << none << QByteArray("QUILLVANE_ENVTEST_A=1\xe2\x80\xa8QUILLVANE_ENVTEST_B=2")
        << QStringList{"QUILLVANE_ENVTEST_A=1", "QUILLVANE_ENVTEST_B=2"};
    QTest::newRow("UTF-8 value") << none << QByteArray("QUILLVANE_ENVTEST_A=caf\xc3\xa9\n")
                                 << QStringList{"QUILLVANE_ENVTEST_A=café"};
    QTest::newRow("first assignment wins")
        << none << QByteArray("QUILLVANE_ENVTEST_A=first\nQUILLVANE_ENVTEST_A=second\n")
        << QStringList{"QUILLVANE_ENVTEST_A=first"};
    QTest::newRow("variable already set wins")
        << QStringList{"QUILLVANE_ENVTEST_A=outer"}
        << QByteArray("QUILLVANE_ENVTEST_A=file\nQUILLVANE_ENVTEST_B=file\n")
        << QStringList{"QUILLVANE_ENVTEST_A=outer", "QUILLVANE_ENVTEST_B=file"};
    QTest::newRow("variable already set to empty wins")
        << QStringList{"QUILLVANE_ENVTEST_A="} << QByteArray("QUILLVANE_ENVTEST_A=file\n")
        << QStringList{"QUILLVANE_ENVTEST_A="};
    QTest::newRow("not UTF-8: nothing set")
        << none << QByteArray("QUILLVANE_ENVTEST_A=1\n\xff\xfe\n") << QStringList{};
}

void TestEnvLoader::parsing() {
    QFETCH(QStringList, preset);
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, expected);

    for (const QString& assignment : preset) {
        qputenv(assignment.section(QLatin1Char('='), 0, 0).toUtf8().constData(),
                assignment.section(QLatin1Char('='), 1).toUtf8());
    }
    const QString path = m_tree->filePath(QStringLiteral(".env"));
    writeFile(path, contents);

    EnvLoader::loadEnvFile(path);
    QCOMPARE(testVariables(), expected);
}

void TestEnvLoader::candidateOrder_data() {
    QTest::addColumn<QString>("workingDirectory");
    QTest::addColumn<QString>("executableDirectory");
    QTest::addColumn<bool>("withResourceFolder");
    QTest::addColumn<QStringList>("expected");

    // "@" stands for the temporary tree. The executable sits nine levels deep, so the eight passes
    // stop at @/a/b.
    const QString exe = QStringLiteral("@/a/b/c/d/e/f/g/h/bin");
    const QStringList exePasses{
        "@/a/b/c/d/e/f/g/h/bin/.env", "@/a/b/c/d/e/f/g/h/.env", "@/a/b/c/d/e/f/g/.env", "@/a/b/c/d/e/f/.env",
        "@/a/b/c/d/e/.env",           "@/a/b/c/d/.env",         "@/a/b/c/.env",         "@/a/b/.env",
    };
    const QStringList working{"@/work/project/.env", "@/work/.env"};

    QTest::newRow("working folder, its parent, then the executable's folder and seven ancestors")
        << "@/work/project" << exe << false << working + exePasses;
    QTest::newRow("dot and dot-dot components resolved")
        << "@/work/./other/../project/"
        << "@/a/b/c/d/e/f/g/h/bin/./" << false << working + exePasses;
    QTest::newRow("resource folder after the working folder's candidates")
        << "@/work/project" << exe << true
        << working + QStringList{"@/a/b/c/d/e/f/g/h/share/quillvane/.env"} + exePasses;

    QStringList inside{"@/a/b/c/d/.env", "@/a/b/c/.env"};
    for (const QString& candidate : exePasses) {
        if (!inside.contains(candidate)) {
            inside << candidate;
        }
    }
    QTest::newRow("working folder inside the executable's ancestry listed once")
        << "@/a/b/c/d" << exe << false << inside;
    QTest::newRow("root: the step up from the root adds nothing") << "/"
                                                                  << "/" << false << QStringList{"/.env"};
}

void TestEnvLoader::candidateOrder() {
    QFETCH(QString, workingDirectory);
    QFETCH(QString, executableDirectory);
    QFETCH(bool, withResourceFolder);
    QFETCH(QStringList, expected);

    const auto resolve = [this](QString path) { return path.replace(QLatin1Char('@'), root()); };
    if (withResourceFolder) {
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/a/b/c/d/e/f/g/h/share/quillvane")));
    }
    for (QString& path : expected) {
        path = resolve(path);
    }
    QCOMPARE(EnvLoader::candidatePaths(resolve(workingDirectory), resolve(executableDirectory)), expected);
}

void TestEnvLoader::onlyTheAppsVariablesAreSet() {
    // Names the app reads are set; anything else (a stray .env in the home folder) is left alone and
    // named, without its value, in one line.
    const QList<QByteArray> allowed{"QUILLVANE_ENVTEST_A",           "QUILLVANE_ENVTEST_B",
                                    "GOOGLE_CLIENT_SECRETS_FILE", "MICROSOFT_CLIENT_ID",
                                    "MICROSOFT_TENANT_ID",        "MICROSOFT_REDIRECT_URI"};
    const QList<QByteArray> refused{"PATH",
                                    "LD_PRELOAD",
                                    "quillvane_test_lower",
                                    "XQUILLVANE_ENVTEST_C",
                                    "QUILLVANE_",
                                    "MICROSOFT_CLIENT_SECRET"};
    QByteArray contents;
    for (const QByteArray& name : allowed + refused) {
        contents += name + "=value-of-" + name.toLower() + "\n";
    }
    contents += "LD_PRELOAD=again\n"; // named once
    const QString path = m_tree->filePath(QStringLiteral(".env"));
    writeFile(path, contents);
    const QByteArray pathBefore = qgetenv("PATH");
    for (const QByteArray& name : allowed.mid(2) + refused.mid(1)) {
        QVERIFY2(!qEnvironmentVariableIsSet(name.constData()), name.constData());
    }
    const auto restore = qScopeGuard([&] {
        for (const QByteArray& name : allowed.mid(2) + refused.mid(1)) {
            qunsetenv(name.constData());
        }
    });

    RuntimeLogCapture log;
    EnvLoader::loadEnvFile(path);

    for (const QByteArray& name : allowed) {
        QCOMPARE(qgetenv(name.constData()), "value-of-" + name.toLower());
    }
    QCOMPARE(qgetenv("PATH"), pathBefore);
    for (const QByteArray& name : refused.mid(1)) {
        QVERIFY2(!qEnvironmentVariableIsSet(name.constData()), name.constData());
    }
    QCOMPARE(log.entries(), QStringList{"INFO Ignored .env variables the app does not read "
                                        "names=PATH,LD_PRELOAD,quillvane_test_lower,XQUILLVANE_ENVTEST_C,"
                                        "QUILLVANE_,MICROSOFT_CLIENT_SECRET"});
}

QStringList TestEnvLoader::loadFromWorkingDirectory(const QString& directory) {
    {
        std::lock_guard lock(g_capturedMutex);
        g_capturedInfo.clear();
    }
    [&] { QVERIFY(QDir::setCurrent(directory)); }();
    const QtMessageHandler previous = qInstallMessageHandler(captureRuntimeInfo);
    EnvLoader::loadIfPresent();
    qInstallMessageHandler(previous);
    std::lock_guard lock(g_capturedMutex);
    return g_capturedInfo;
}

void TestEnvLoader::loadsOnlyTheFirstExistingCandidate() {
    const QString project = root() + QStringLiteral("/work/project");
    writeFile(project + QStringLiteral("/.env"), "QUILLVANE_ENVTEST_A=own\nQUILLVANE_ENVTEST_B=own\n");
    writeFile(root() + QStringLiteral("/work/.env"), "QUILLVANE_ENVTEST_A=parent\nQUILLVANE_ENVTEST_C=parent\n");

    const QStringList logged = loadFromWorkingDirectory(project);

    QCOMPARE(testVariables(), (QStringList{"QUILLVANE_ENVTEST_A=own", "QUILLVANE_ENVTEST_B=own"}));
    QCOMPARE(logged, QStringList{QStringLiteral("Loaded environment overrides from ") + project +
                                 QStringLiteral("/.env")});
}

void TestEnvLoader::directoryNamedDotEnvEndsTheSearch() {
    const QString project = root() + QStringLiteral("/work/project");
    QVERIFY(QDir().mkpath(project + QStringLiteral("/.env")));
    writeFile(root() + QStringLiteral("/work/.env"), "QUILLVANE_ENVTEST_A=parent\n");

    const QStringList logged = loadFromWorkingDirectory(project);

    QCOMPARE(testVariables(), QStringList{});
    QCOMPARE(logged, QStringList{QStringLiteral("Loaded environment overrides from ") + project +
                                 QStringLiteral("/.env")});
}

void TestEnvLoader::logsWhenNoFileIsFound() {
    const QString project = root() + QStringLiteral("/work/project");
    QVERIFY(QDir().mkpath(project));
    const QStringList candidates = EnvLoader::candidatePaths(project, QCoreApplication::applicationDirPath());
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            QSKIP(qPrintable(QStringLiteral("a .env file lies near the test executable: ") + candidate));
        }
    }

    const QStringList logged = loadFromWorkingDirectory(project);

    QCOMPARE(testVariables(), QStringList{});
    QCOMPARE(logged, QStringList{QStringLiteral("No .env file found at start-up")});
}

QTEST_GUILESS_MAIN(TestEnvLoader)
#include "tst_envloader.moc"
