#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes 16-bit PCM little-endian samples into a RIFF WAVE file. The header is written first with sizes of
// zero and patched by `finish()`. The file is created new (never overwriting) and readable only by its owner.
class WavFileWriter {
public:
    WavFileWriter(int sampleRate, int channelCount);
    ~WavFileWriter(); // finishes the file if still open
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;

    // Creates the file and writes the header. On failure returns false with the reason in `errorText()`.
    bool open(const QString& path);
    // Appends raw sample bytes (whole samples). False when the write failed.
    bool write(const char* data, qsizetype size);
    // Patches the RIFF and data sizes and closes the file.
    bool finish();

    bool isOpen() const { return m_file.isOpen(); }
    qint64 dataBytes() const { return m_dataBytes; }
    qint64 frames() const { return m_dataBytes / (2 * m_channelCount); }
    QString errorText() const { return m_error; }

    // The 44-byte canonical header for a PCM file with `dataBytes` bytes of 16-bit samples.
    static QByteArray header(int sampleRate, int channelCount, quint32 dataBytes);

private:
    int m_sampleRate;
    int m_channelCount;
    QFile m_file;
    qint64 m_dataBytes = 0;
    QString m_error;
};
