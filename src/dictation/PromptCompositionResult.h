#pragma once

#include "ActiveAppContext.h"

#include <QString>

// A transcription prompt and the frontmost-application context it was built from. The prompt is empty
// when the recording's model takes only the context.
struct PromptCompositionResult {
    QString prompt;
    ActiveAppContext context;

    friend bool operator==(const PromptCompositionResult&, const PromptCompositionResult&) = default;
};
