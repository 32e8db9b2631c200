#pragma once

#include "DictationModes.h"

#include <QString>

#include <optional>

// Which backend model transcribes a recording: the stored tier mapped to a model name, overridden per
// recording (verbatim transcription, short dictations, AI Mode), and any model or provider name mapped
// back to the tier label the user knows.
namespace ModelRouting {

inline constexpr double shortClipZephyrixCutoff = 3.0; // the longest dictation moved to the fast model

inline const QString balancedModel = QStringLiteral("nova-3");
inline const QString medicalModel = QStringLiteral("nova-3-medical");
inline const QString fastModel = QStringLiteral("whisper-large-v3-turbo");
inline const QString capableModel = QStringLiteral("gpt-4o-transcribe");
inline const QString capableMiniModel = QStringLiteral("gpt-4o-mini-transcribe");

// What the per-recording choice reads, at the moment of the call.
struct RoutingInput {
    QString transcriptionModel;  // the stored tier id (PromptSettings)
    QString workDomainSelection; // PromptSettings
    QString verbatimModeStyle;   // AppSettings; "off" turns verbatim transcription off
    RecordingMode mode = RecordingMode::Transcription;
};

// "tidewell" -> "nova-3", "zephyrix" -> "whisper-large-v3-turbo", "keystoner" and "keystoner deck" ->
// "gpt-4o-transcribe" (trimmed, any case); any other text unchanged.
QString normalizedTranscriptionModel(const QString& tier);

// The model for the recording; `duration` is absent when the caller has none. Logs an auto-routing line
// when a short dictation or an AI Mode instruction is moved to the fast model.
QString effectiveTranscriptionModel(const RoutingInput& input, std::optional<double> duration);

// "Tidewell", "Zephyrix", "Keystoner Deck", or "Quillvane" for anything else (absent or blank included).
QString publicModelLabel(const std::optional<QString>& name);

// Whether a recording sends the composed prompt (AI Mode, or a model that takes one) rather than the
// context alone.
bool needsFullPrompt(RecordingMode mode, const QString& model);

} // namespace ModelRouting
