#pragma once

#include <vector>

// A sequence of short tones, one after the other, each followed by a gap of silence.
struct ToneSequence {
    std::vector<double> frequencies; // Hz, one tone per entry, in order
    double duration = 0.0;           // seconds per tone
    double gapDuration = 0.0;        // seconds of silence after each tone
    double amplitude = 0.0;          // peak of the fundamental, 0 to 1
};

// Renders cue tones into memory: mono 32-bit float samples at 44.1 kHz. A pure function, so the
// players only schedule the samples it returns.
//
// Each tone is a sine with a quieter second harmonic (0.24) under a linear envelope: a 441-frame attack,
// a sustain, and a 1984-frame release. A tone takes duration x 44100 frames (truncated), its gap
// gapDuration x 44100 frames; the buffer holds exactly one tone and one gap per frequency. A tone too
// short for its attack and release is cut off at its own length, so it never runs into its gap, the next
// tone or past the buffer.
class ToneRenderer {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kAttackFrames = 441;
    static constexpr int kReleaseFrames = 1984;
    static constexpr double kSecondHarmonic = 0.24;

    ToneRenderer() = delete;

    static std::vector<float> render(const ToneSequence& sequence);

    // Frames of one tone or one gap for a length in seconds (truncated; 0 for negative or non-finite).
    static int framesFor(double seconds);
    // The envelope of a tone of `toneFrames` frames at frame i (0 to 1).
    static double envelope(int i, int toneFrames);
};
