#include "ModelRouting.h"

#include "AppLogger.h"
#include "TextUtilities.h"

#include <QStringList>

namespace ModelRouting {

QString normalizedTranscriptionModel(const QString& tier) {
    const QString key = Text::trimmed(tier).toLower();
    if (key == QLatin1String("tidewell")) {
        return balancedModel;
    }
    if (key == QLatin1String("zephyrix")) {
        return fastModel;
    }
    if (key == QLatin1String("keystoner") || key == QLatin1String("keystoner deck")) {
        return capableModel;
    }
    return tier;
}

QString effectiveTranscriptionModel(const RoutingInput& input, std::optional<double> duration) {
    const QString base = normalizedTranscriptionModel(input.transcriptionModel);
    if (input.verbatimModeStyle != QLatin1String("off") && input.mode != RecordingMode::SmartEdit) {
        return input.workDomainSelection == QLatin1String("medical") ? medicalModel : balancedModel;
    }
    switch (input.mode) {
    case RecordingMode::Transcription:
        if (base == balancedModel && duration && *duration > 0 && *duration <= shortClipZephyrixCutoff) {
            AppLogger::info(QStringLiteral("Auto-routing short clip to Zephyrix duration=") +
                            QString::asprintf("%.2f", *duration) + QStringLiteral("s configured_model=") +
                            base + QStringLiteral(" cutoff=") +
                            QString::asprintf("%.2f", shortClipZephyrixCutoff) + QStringLiteral("s"));
            return fastModel;
        }
        return base;
    case RecordingMode::SmartEdit:
        if (base != fastModel) {
            AppLogger::info(
                QStringLiteral("Auto-routing AI Mode transcription to Zephyrix configured_model=") + base);
        }
        return fastModel;
    case RecordingMode::Note:
        return base;
    }
    return base;
}

QString publicModelLabel(const std::optional<QString>& name) {
    static const QString fallback = QStringLiteral("Quillvane");
    if (!name) {
        return fallback;
    }
    const QString key = Text::trimmed(*name).toLower();
    static const QList<std::pair<QString, QStringList>> labels{
        {QStringLiteral("Tidewell"), {"tidewell", "deepgram", "nova-3", "nova-3-medical"}},
        {QStringLiteral("Zephyrix"), {"zephyrix", "groq", "whisper-large-v3", "whisper-large-v3-turbo"}},
        {QStringLiteral("Keystoner Deck"),
         {"keystoner", "keystoner deck", "openai", "gpt-4o-transcribe", "gpt-4o-mini-transcribe"}},
    };
    for (const auto& [label, names] : labels) {
        if (names.contains(key)) {
            return label;
        }
    }
    return fallback;
}

bool needsFullPrompt(RecordingMode mode, const QString& model) {
    return mode == RecordingMode::SmartEdit || model == capableModel || model == capableMiniModel;
}

} // namespace ModelRouting
