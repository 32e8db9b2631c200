#include "SpeechDetection.h"

#include "AppLogger.h"

#include <QByteArrayView>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace SpeechDetection {
namespace {

QByteArrayView payloadView(QByteArrayView data) {
    if (data.size() < 45) {
        return data;
    }
    if (data.first(4) == QByteArrayView("RIFF") && data.sliced(8, 4) == QByteArrayView("WAVE")) {
        return data.sliced(44);
    }
    return data;
}

QString fixed(double value, int decimals) {
    return QString::asprintf("%.*f", decimals, value);
}

struct FrameStatistics {
    qsizetype frames = 0;
    qsizetype speechFrames = 0;
    double maxRMS = 0;
    double sumRMS = 0;
};

FrameStatistics analyse(const char* bytes, qsizetype sampleCount, double threshold) {
    qsizetype first = 0;
    qsizetype end = sampleCount;
    if (sampleCount > 2 * trimmedSamplesPerEnd) {
        first = trimmedSamplesPerEnd;
        end = sampleCount - trimmedSamplesPerEnd;
    }
    FrameStatistics stats;
    for (qsizetype frameStart = first; frameStart < end; frameStart += frameLength) {
        const qsizetype frameEnd = std::min(end, frameStart + frameLength);
        double sumOfSquares = 0;
        for (qsizetype i = frameStart; i < frameEnd; ++i) {
            const double sample = qFromLittleEndian<qint16>(bytes + 2 * i);
            sumOfSquares += sample * sample;
        }
        const double rms = std::sqrt(sumOfSquares / double(frameEnd - frameStart));
        ++stats.frames;
        if (rms > threshold) {
            ++stats.speechFrames;
        }
        stats.maxRMS = std::max(stats.maxRMS, rms);
        stats.sumRMS += rms;
    }
    return stats;
}

} // namespace

QByteArray extractPCM16Audio(const QByteArray& data) {
    const QByteArrayView payload = payloadView(data);
    return payload.size() == data.size() ? data : payload.toByteArray();
}

bool hasMeaningfulAudio(const QByteArray& audioData, double duration, int silenceThreshold) {
    if (duration < minRecordingDuration) {
        AppLogger::info(QStringLiteral("Recording too short for speech detection duration=") +
                        fixed(duration, 2) + QStringLiteral("s"));
        return false;
    }
    const QByteArrayView payload = payloadView(audioData);
    if (payload.isEmpty()) {
        AppLogger::info(QStringLiteral("No audio frames available for speech detection"));
        return false;
    }
    const qsizetype sampleCount = payload.size() / 2;
    if (sampleCount == 0) {
        AppLogger::info(QStringLiteral("No PCM samples available for speech detection"));
        return false;
    }

    const double threshold = silenceThreshold;
    const FrameStatistics stats = analyse(payload.data(), sampleCount, threshold);
    const double ratio = double(stats.speechFrames) / double(stats.frames);
    const double avgRMS = stats.sumRMS / double(stats.frames);
    AppLogger::info(QStringLiteral("Audio analysis duration=") + fixed(duration, 2) +
                    QStringLiteral(" speech_ratio=") + fixed(ratio, 2) + QStringLiteral(" max_rms=") +
                    fixed(stats.maxRMS, 0) + QStringLiteral(" avg_rms=") + fixed(avgRMS, 0));

    const double requiredRatio = duration < 0.75  ? veryShortRecordingSpeechRatio
                                 : duration < 2.0 ? shortRecordingSpeechRatio
                                                  : minSpeechRatio;
    const double floor = std::max(threshold * shortClipLowEnergyRMSFloorMultiplier, lowEnergyFloorMinimum);
    const bool lowEnergy =
        duration <= shortClipLowEnergyMaxDuration && ratio < shortClipLowEnergySpeechRatio && avgRMS < floor;

    QStringList reasons;
    if (ratio < requiredRatio) {
        reasons << QStringLiteral("speech ratio ") + fixed(ratio, 2) + QStringLiteral(" below threshold ") +
                       fixed(requiredRatio, 2);
    }
    if (stats.maxRMS <= threshold) {
        reasons << QStringLiteral("max RMS ") + fixed(stats.maxRMS, 0) +
                       QStringLiteral(" <= silence threshold ") + fixed(threshold, 0);
    }
    if (lowEnergy) {
        reasons << QStringLiteral("short low-energy clip (avg RMS ") + fixed(avgRMS, 0) +
                       QStringLiteral(" below floor ") + fixed(floor, 0) + QStringLiteral(")");
    }
    if (reasons.isEmpty()) {
        return true;
    }
    AppLogger::info(QStringLiteral("Audio contains insufficient speech content (") +
                    reasons.join(QStringLiteral("; ")) + QStringLiteral(")"));
    return false;
}

} // namespace SpeechDetection
