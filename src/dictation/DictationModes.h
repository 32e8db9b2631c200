#pragma once

#include <QString>

// What a recording is for: dictation (Typing Mode included), AI Mode, or a voice note.
enum class RecordingMode { Transcription, SmartEdit, Note };

// How dictated text reaches the frontmost application.
enum class OutputMode { Paste, Type };

// The names log lines use: "transcription", "smart_edit", "note".
inline QString logLabel(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::Transcription:
        return QStringLiteral("transcription");
    case RecordingMode::SmartEdit:
        return QStringLiteral("smart_edit");
    case RecordingMode::Note:
        return QStringLiteral("note");
    }
    return QStringLiteral("transcription");
}

// "paste", "type".
inline QString logLabel(OutputMode mode) {
    return mode == OutputMode::Type ? QStringLiteral("type") : QStringLiteral("paste");
}
