#pragma once
// Test helper: recognisable speech, spoken by flite's "slt" voice and converted by sox to the 16 kHz mono
// 16-bit WAV the application records.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace testspeech {

// The WAV file's bytes; empty when flite or sox failed. The files are left in `folder`.
inline QByteArray speak(const QString& sentence, const QString& folder, const QString& name = "speech") {
    const QString raw = QDir(folder).filePath(name + ".raw.wav");
    const QString wav = QDir(folder).filePath(name + ".wav");
    if (QProcess::execute("flite", {"-voice", "slt", "-t", sentence, "-o", raw}) != 0 ||
        QProcess::execute("sox", {raw, "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer", wav}) !=
            0) {
        return {};
    }
    QFile file(wav);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace testspeech
