#include "ToneRenderer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

int ToneRenderer::framesFor(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return 0;
    }
    // Cues are fractions of a second; anything longer than a minute is a caller's mistake, not a tone.
    return int(std::min(seconds, 60.0) * kSampleRate);
}

double ToneRenderer::envelope(int i, int toneFrames) {
    const int sustain = std::max(toneFrames - kAttackFrames - kReleaseFrames, 0);
    if (i < kAttackFrames) {
        return double(i) / kAttackFrames;
    }
    if (i < kAttackFrames + sustain) {
        return 1.0;
    }
    return 1.0 - double(i - kAttackFrames - sustain) / kReleaseFrames;
}

std::vector<float> ToneRenderer::render(const ToneSequence& sequence) {
    const int toneFrames = framesFor(sequence.duration);
    const int gapFrames = framesFor(sequence.gapDuration);
    const std::size_t slot = std::size_t(toneFrames) + std::size_t(gapFrames);
    std::vector<float> samples(sequence.frequencies.size() * slot, 0.0f);

    const int sustain = std::max(toneFrames - kAttackFrames - kReleaseFrames, 0);
    // The envelope spans attack + sustain + release frames; for very short tones that is longer than
    // the tone itself, and the tone is cut off at its own length.
    const int rendered = std::min(kAttackFrames + sustain + kReleaseFrames, toneFrames);
    const double amplitude =
        std::isfinite(sequence.amplitude) ? std::clamp(sequence.amplitude, 0.0, 1.0) : 0.0;

    std::size_t position = 0;
    for (double frequency : sequence.frequencies) {
        const double angular = std::isfinite(frequency) ? 2.0 * std::numbers::pi * frequency : 0.0;
        for (int i = 0; i < rendered; ++i) {
            const double t = double(i) / kSampleRate;
            const double wave = std::sin(angular * t) + kSecondHarmonic * std::sin(2.0 * angular * t);
            samples[position + std::size_t(i)] = float(wave * envelope(i, toneFrames) * amplitude);
        }
        position += slot; // the gap stays silent
    }
    return samples;
}
