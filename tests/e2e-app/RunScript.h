#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// Starts the real program through scripts/run (already built, in BUILD_DIR) with the stand-in on `port`,
// its settings and data in `dir`, and the accessibility bridge on, so tests can find its buttons by name.
inline void startRunScript(QProcess& run, const QTemporaryDir& dir, int port) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QUILLVANE_RUN_SKIP_BUILD", "1");
    environment.insert("QUILLVANE_RUN_BUILD_DIR", BUILD_DIR);
    environment.insert("QUILLVANE_STANDIN_PORT", QString::number(port));
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    environment.insert("XDG_DATA_HOME", dir.filePath("data"));
    environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    environment.remove("QT_QPA_PLATFORM");
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.setWorkingDirectory(dir.path());
    run.start(QStringLiteral(RUN_SCRIPT), {});
}
