// The frontmost application as the context names and classifies it: the name users know (from the desktop
// entries), and the categories of Linux applications.

#include "ActiveAppContextService.h"
#include "DesktopEntryNames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// One frontmost window with a class hint and a title.
class OneWindow : public FrontmostWindowSource {
public:
    FrontmostWindow front;
    QString title = QStringLiteral("Inbox");
    std::optional<FrontmostWindow> frontmostWindow() override { return front; }
    std::optional<QString> windowTitle(quint64) override { return title; }
    std::optional<quint64> mainWindow(quint64) override { return std::nullopt; }
    QList<quint64> windowsOfProcess(qint64) override { return {}; }
};

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

class TestAppContextUnit : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;   // XDG_DATA_HOME
    QTemporaryDir m_system; // the one folder of XDG_DATA_DIRS

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid() && m_system.isValid());
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_DIRS", m_system.path().toUtf8());
        const QString home = m_home.path() + "/applications/";
        const QString system = m_system.path() + "/applications/";
        writeFile(home + "firefox.desktop", "[Desktop Entry]\nType=Application\nName=Firefox Web Browser\n"
                                            "Name[de]=Firefox-Webbrowser\nExec=firefox %u\n");
        writeFile(system + "org.gnome.Terminal.desktop",
                  "# a comment\n[Desktop Entry]\nName=Terminal\nStartupWMClass=Gnome-terminal\n"
                  "[Desktop Action new-window]\nName=New Window\n");
        writeFile(system + "org.gnome.Evolution.desktop",
                  "[Desktop Entry]\nType=Application\nName=Evolution\n");
        writeFile(system + "kde/kmail.desktop", "[Desktop Entry]\nType=Application\nName=KMail\n");
        // Hidden in the user's folder: the system's entry of the same id no longer counts.
        writeFile(system + "gedit.desktop", "[Desktop Entry]\nType=Application\nName=Text Editor\n");
        writeFile(home + "gedit.desktop",
                  "[Desktop Entry]\nType=Application\nName=Text Editor\nHidden=true\n");
        writeFile(system + "firefox.desktop", "[Desktop Entry]\nType=Application\nName=Shadowed Firefox\n");
    }

    // The name users know: the desktop entry's Name (by StartupWMClass, by desktop file id, by the last part
    // of a reverse-DNS id; any case), else the window's class, else its instance name.
    void applicationName_data() {
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("name");
        QTest::newRow("id matches the class, user's folder first") << "Navigator"
                                                                   << "firefox"
                                                                   << "Firefox Web Browser";
        QTest::newRow("StartupWMClass") << "gnome-terminal-server"
                                        << "Gnome-terminal"
                                        << "Terminal";
        QTest::newRow("reverse-DNS id") << "evolution"
                                        << "Evolution"
                                        << "Evolution";
        QTest::newRow("id from a subfolder") << "kde-kmail"
                                             << "Kde-kmail"
                                             << "KMail";
        QTest::newRow("hidden entry: the class") << "gedit"
                                                 << "Gedit"
                                                 << "Gedit";
        QTest::newRow("no entry: the class") << "Navigator"
                                             << "Obscure"
                                             << "Obscure";
        QTest::newRow("no class: the instance") << "barewin" << QString() << "barewin";
    }
    void applicationName() {
        QFETCH(QString, instance);
        QFETCH(QString, windowClass);
        QFETCH(QString, name);
        auto windows = std::make_shared<OneWindow>();
        windows->front.windowId = 5;
        windows->front.instanceName = instance;
        if (!windowClass.isNull()) {
            windows->front.windowClass = windowClass;
        }
        ActiveAppContextService service(windows);
        QCOMPARE(service.currentContext().appName, name);
    }

    // A new entry is seen without restarting.
    void newEntryIsFound() {
        DesktopEntryNames names;
        QCOMPARE(names.nameForWindow("Remmina", "org.remmina.Remmina"), std::nullopt);
        QTest::qWait(1100); // folder times have one-second steps on some file systems
        writeFile(m_home.path() + "/applications/org.remmina.Remmina.desktop",
                  "[Desktop Entry]\nType=Application\nName=Remmina\n");
        QCOMPARE(names.nameForWindow("org.remmina.Remmina", "org.remmina.Remmina"),
                 std::optional<QString>("Remmina"));
    }

    // Linux applications fall in the existing categories.
    void linuxCategories_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("category");
        QTest::newRow("xterm (terminal list)") << "XTerm"
                                               << "XTerm"
                                               << "terminal";
        QTest::newRow("kitty (terminal list)") << "kitty"
                                               << "kitty"
                                               << "terminal";
        QTest::newRow("konsole (terminal list)") << "Konsole"
                                                 << "konsole"
                                                 << "terminal";
        QTest::newRow("foot (terminal list)") << "Foot"
                                              << "foot"
                                              << "terminal";
        QTest::newRow("remmina") << "Remmina"
                                 << "org.remmina.Remmina"
                                 << "vdi";
        QTest::newRow("xfreerdp") << "xfreerdp"
                                  << "xfreerdp"
                                  << "vdi";
        QTest::newRow("vncviewer") << "TigerVNC Viewer"
                                   << "Vncviewer"
                                   << "vdi";
        QTest::newRow("krdc") << "KRDC"
                              << "krdc"
                              << "vdi";
        QTest::newRow("gnome-connections") << "Connections"
                                           << "Org.gnome.Connections"
                                           << "vdi";
        QTest::newRow("virt-viewer") << "Virtual Machine Viewer"
                                     << "Virt-viewer"
                                     << "vdi";
        QTest::newRow("libreoffice") << "LibreOffice Calc"
                                     << "libreoffice-calc"
                                     << "office";
        QTest::newRow("thunderbird") << "Thunderbird"
                                     << "thunderbird"
                                     << "communication";
        QTest::newRow("evolution") << "Evolution"
                                   << "Evolution"
                                   << "communication";
        QTest::newRow("geary") << "Geary"
                               << "Geary"
                               << "communication";
        QTest::newRow("kmail") << "KMail"
                               << "kmail2"
                               << "communication";
    }
    void linuxCategories() {
        QFETCH(QString, name);
        QFETCH(QString, windowClass);
        QFETCH(QString, category);
        ActiveAppContextService service(std::make_shared<OneWindow>());
        // A neutral title: the category comes from the application alone.
        QCOMPARE(service.detectCategory(name, windowClass, QStringLiteral("Untitled")),
                 std::optional<QString>(category));
    }

    // A long title is cut to 200 user-perceived characters, never inside one, and only the cut title is seen
    // afterwards (the category and the description are made from it).
    void longTitleIsCapped_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        const QString a199(199, QLatin1Char('a'));
        const QString a200(200, QLatin1Char('a'));
        const QString accent = QString::fromUtf8("e\u0301\u0323"); // e, acute, dot below: one character
        const QString emoji = QString::fromUtf8("\U0001F600");     // a surrogate pair
        const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("200 stay") << a200 << a200;
        QTest::newRow("201 cut") << a200 + "b" << a200;
        QTest::newRow("kilobytes cut") << a199 + QString(5000, QLatin1Char('x')) << a199 + "x";
        QTest::newRow("combining sequence kept whole") << a199 + accent + "zz" << a199 + accent;
        QTest::newRow("surrogate pair kept whole") << a199 + emoji + emoji << a199 + emoji;
        QTest::newRow("emoji sequence kept whole") << a199 + family + "z" << a199 + family;
        QTest::newRow("counted after trimming") << "   " + a200 + "b" << a200;
        QTest::newRow("no blank left at the cut") << a199 + "    tail" << a199;
        QTest::newRow("terminal word past the cut") << a200 + " terminal" << a200;
    }
    void longTitleIsCapped() {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        auto windows = std::make_shared<OneWindow>();
        windows->front.windowId = 5;
        windows->front.windowClass = QStringLiteral("Obscure");
        windows->title = title;
        ActiveAppContextService service(windows);
        const ActiveAppContext context = service.currentContext();
        QCOMPARE(context.windowTitle, expected);
        QCOMPARE(context.category, std::nullopt);
        QCOMPARE(context.debugDescription, "Obscure (GENERAL) - " + expected);
    }
};

QTEST_GUILESS_MAIN(TestAppContextUnit)
#include "tst_app_context_unit.moc"
