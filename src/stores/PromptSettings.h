#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The user's prompt and transcription choices. Stored as one JSON object whose keys are the member
// names; reading requires all five keys as strings.
struct PromptSettings {
    QString workDomainSelection = QStringLiteral("general");
    QString workDomainCustom;
    QString customPrompt = defaultCustomPrompt();
    QString transcriptionLanguageMode = QStringLiteral("auto_detect");
    QString transcriptionModel = QStringLiteral("tidewell");

    friend bool operator==(const PromptSettings&, const PromptSettings&) = default;

    static QString defaultCustomPrompt();

    QJsonObject toJson() const;
    QByteArray toJsonText() const; // compact
    // Nothing when the text is no JSON object, or any of the five keys is missing or not a string.
    static std::optional<PromptSettings> fromJson(const QJsonObject& json);
    static std::optional<PromptSettings> fromJsonText(const QByteArray& text);
};
