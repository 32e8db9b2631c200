#pragma once

#include <QUrl>

// A finished recording handed over by `AudioCaptureService::stopRecording()`: the WAV file
// (16 kHz, mono, 16-bit little-endian PCM) and its length in seconds. The caller owns the file.
struct RecordedAudio {
    QUrl url;            // file URL of the WAV file
    double duration = 0; // seconds: frames written / 16000
};
