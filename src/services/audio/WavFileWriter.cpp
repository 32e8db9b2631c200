#include "WavFileWriter.h"

#include "TextUtilities.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <unistd.h>

namespace {
void putTag(QByteArray& out, const char (&tag)[5]) {
    out.append(tag, 4);
}
void putU32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}
void putU16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}
constexpr qint64 kHeaderSize = 44;
// RIFF sizes are 32-bit: the data may not grow past what the header can state.
constexpr qint64 kMaxDataBytes = qint64(std::numeric_limits<quint32>::max()) - (kHeaderSize - 8);
} // namespace

WavFileWriter::WavFileWriter(int sampleRate, int channelCount)
    : m_sampleRate(sampleRate), m_channelCount(channelCount) {}

WavFileWriter::~WavFileWriter() {
    if (m_file.isOpen())
        finish();
}

QByteArray WavFileWriter::header(int sampleRate, int channelCount, quint32 dataBytes) {
    const quint16 blockAlign = quint16(channelCount * 2);
    QByteArray out;
    out.reserve(kHeaderSize);
    putTag(out, "RIFF");
    const quint64 riffSize = 36 + quint64(dataBytes);
    putU32(out, quint32(std::min<quint64>(riffSize, std::numeric_limits<quint32>::max())));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, 16);                               // fmt chunk size
    putU16(out, 1);                                // PCM
    putU16(out, quint16(channelCount));            // channels
    putU32(out, quint32(sampleRate));              // frames per second
    putU32(out, quint32(sampleRate) * blockAlign); // bytes per second
    putU16(out, blockAlign);                       // bytes per frame
    putU16(out, 16);                               // bits per sample
    putTag(out, "data");
    putU32(out, dataBytes);
    return out;
}

bool WavFileWriter::open(const QString& path) {
    m_dataBytes = 0;
    m_error.clear();
    m_file.setFileName(path);
    // Unbuffered: every block of samples reaches the file as soon as it is written.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray head = header(m_sampleRate, m_channelCount, 0);
    if (m_file.write(head) != head.size()) {
        m_error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

bool WavFileWriter::write(const char* data, qsizetype size) {
    if (!m_file.isOpen())
        return false;
    if (m_dataBytes + size > kMaxDataBytes) {
        m_error = QStringLiteral("The recording reached the largest size a WAV file can hold");
        return false;
    }
    // Straight to the descriptor: the system's reason for a refused write (errno) is what the user is told,
    // and Qt's file engine reports a short write on a full disk as "Unknown error".
    const int fd = m_file.handle();
    qsizetype left = size;
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_error = Text::systemErrorText(errno);
            return false;
        }
        m_dataBytes += written;
        data += written;
        left -= written;
    }
    return true;
}

bool WavFileWriter::finish() {
    if (!m_file.isOpen())
        return false;
    // A partial sample (after a failed write) is not counted as data.
    const qint64 whole = m_dataBytes - m_dataBytes % (2 * m_channelCount);
    m_dataBytes = whole;
    const QByteArray head = header(m_sampleRate, m_channelCount, quint32(whole));
    bool ok = m_file.resize(kHeaderSize + whole) && m_file.seek(0) && m_file.write(head) == head.size();
    if (!ok)
        m_error = m_file.errorString();
    m_file.close();
    return ok;
}
