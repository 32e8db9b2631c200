#pragma once
// Test helper: builds 16-bit PCM WAV files (mono) in memory, e.g. a tone to play into the virtual
// microphone with `paplay -d $QUILLVANE_TEST_MIC_SINK`.

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace testwav {

// Samples of a sine tone, amplitude in 0..1 of full scale.
inline std::vector<std::int16_t> sineTone(double frequencyHz, double seconds, int sampleRate,
                                          double amplitude) {
    const auto count = static_cast<std::size_t>(std::lround(seconds * sampleRate));
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double value =
            amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * double(i) / sampleRate);
        samples[i] = static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767.0));
    }
    return samples;
}

// A complete RIFF/WAVE file: PCM, 16 bits, one channel.
inline QByteArray monoPcm16Wav(const std::vector<std::int16_t>& samples, int sampleRate) {
    const quint32 dataBytes = quint32(samples.size() * sizeof(std::int16_t));
    QByteArray out;
    out.reserve(int(44 + dataBytes));
    auto u32 = [&out](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    auto u16 = [&out](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF", 4);
    u32(36 + dataBytes);
    out.append("WAVE", 4);
    out.append("fmt ", 4);
    u32(16);                      // fmt chunk size
    u16(1);                       // PCM
    u16(1);                       // channels
    u32(quint32(sampleRate));     // sample rate
    u32(quint32(sampleRate) * 2); // byte rate
    u16(2);                       // block align
    u16(16);                      // bits per sample
    out.append("data", 4);
    u32(dataBytes);
    for (std::int16_t s : samples)
        u16(static_cast<quint16>(s));
    return out;
}

} // namespace testwav
