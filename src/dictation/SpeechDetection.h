#pragma once

#include <QByteArray>

// The local check that decides whether a finished recording holds speech, before any audio leaves the
// machine. Pure functions of the WAV bytes (16 kHz mono 16-bit little-endian PCM behind a canonical
// 44-byte header), the duration and the user's silence threshold (a 16-bit sample magnitude). The
// measurements and the reasons for a rejection are logged.
namespace SpeechDetection {

inline constexpr double minRecordingDuration = 0.45;          // shorter clips are not analysed
inline constexpr double veryShortRecordingSpeechRatio = 0.2;  // required share below 0.75 s
inline constexpr double shortRecordingSpeechRatio = 0.08;     // from 0.75 s to below 2.0 s
inline constexpr double minSpeechRatio = 0.02;                // from 2.0 s on
inline constexpr double transientTrimSeconds = 0.08;          // cut from each end (1,280 samples)
inline constexpr double shortClipLowEnergySpeechRatio = 0.08; // the low-energy test applies below this share
inline constexpr double shortClipLowEnergyMaxDuration = 5.0;  // ... and up to this duration
inline constexpr double shortClipLowEnergyRMSFloorMultiplier = 0.36; // floor as a fraction of the threshold
inline constexpr int frameLength = 1024;                             // samples per RMS frame
inline constexpr int trimmedSamplesPerEnd = 1280;                    // transientTrimSeconds at 16 kHz
inline constexpr double lowEnergyFloorMinimum = 40;

// The PCM payload: the bytes after the 44-byte header when the data starts with "RIFF" and bytes 8..11
// read "WAVE" (and is at least 45 bytes long); otherwise the data unchanged, all of it taken as samples.
QByteArray extractPCM16Audio(const QByteArray& data);

// Whether the clip is to be transcribed: long enough, with enough frames louder than the threshold, a
// loud enough peak, and (for short, mostly quiet clips) enough average energy.
bool hasMeaningfulAudio(const QByteArray& audioData, double duration, int silenceThreshold);

} // namespace SpeechDetection
