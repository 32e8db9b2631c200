// Quillvane: push-to-talk dictation for Linux desktops.
//
//   quillvane [--hidden] [--screenshot FILE]
//
// --hidden starts without showing the dashboard window (the tray icon, or "Settings", brings it up);
// --screenshot writes a PNG of the dashboard once start-up has settled.

#include "AppShell.h"
#include "AppUpdater.h"
#include "BrandAssets.h"
#include "DependencyContainer.h"
#include "EnvLoader.h"
#include "LaunchAtLoginManager.h"
#include "OrderlyExit.h"
#include "PlatformServices.h"
#include "RecordingFiles.h"
#include "RuntimeDirectory.h"
#include "SingleInstance.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    const QDateTime startedAt = QDateTime::currentDateTimeUtc();
    QApplication::setApplicationName(QStringLiteral("quillvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillvane"));
    QApplication::setApplicationVersion(AppUpdater::versionText());
    QApplication::setDesktopFileName(QStringLiteral("quillvane"));
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Push-to-talk dictation"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption hidden(QStringLiteral("hidden"),
                                    QStringLiteral("Start without showing the window."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Write a PNG of the dashboard after start-up."),
                                        QStringLiteral("file"));
    parser.addOption(hidden);
    parser.addOption(screenshot);
    parser.process(application);

    // One instance per user: a later start brings the running one's window up and ends.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::Second) {
        const bool shown = instance.askRunningInstanceToShow();
        std::fprintf(stderr, shown ? "Quillvane is already running; showed its window\n"
                                   : "Quillvane is already running but did not answer\n");
        return shown ? 0 : 1;
    }
    // The only instance: a recording older than this start is what a killed run left behind.
    RecordingFiles::sweepLeftovers(RuntimeDirectory::path(), startedAt);

    if (const auto icon = BrandAssets::appIcon()) {
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(*icon)));
    }
    // Before the container: every service it builds sees the overrides (the backend URL among them).
    EnvLoader::loadIfPresent();

    int status = 0;
    {
        AppUpdater updater; // first, as the other services may offer its check
        LaunchAtLoginManager launchAtLogin(UserDefaults::standard());
        ContainerPlatform platform;
        platform.refreshLaunchAtLogin = [&launchAtLogin] { launchAtLogin.refresh(); };
        DependencyContainer container(PlatformServices::forThisDesktop(), std::move(platform));
        AppShell shell(container, updater,
                       {!parser.isSet(hidden), parser.value(screenshot),
                        [&launchAtLogin] { launchAtLogin.refresh(); }, &launchAtLogin});
        instance.onShowRequested = [&shell] { shell.showDashboard(); };
        // The exit path is wired once the bootstrap has started the audio backend (see OrderlyExit).
        shell.start([] { OrderlyExit::install(); });
        status = QApplication::exec();
        instance.onShowRequested = nullptr;
    } // services put their state back and drop their holds
    OrderlyExit::leave(status);
}
