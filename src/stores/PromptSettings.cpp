#include "PromptSettings.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {
const QString workDomainSelectionKey = QStringLiteral("workDomainSelection");
const QString workDomainCustomKey = QStringLiteral("workDomainCustom");
const QString customPromptKey = QStringLiteral("customPrompt");
const QString transcriptionLanguageModeKey = QStringLiteral("transcriptionLanguageMode");
const QString transcriptionModelKey = QStringLiteral("transcriptionModel");
} // namespace

QString PromptSettings::defaultCustomPrompt() {
    return QStringLiteral(
        "Fix grammatical errors and stuttering. If I correct myself (e.g., 'at 10, actually 11'), "
        "output only the final meaning. Use professional formatting.");
}

QJsonObject PromptSettings::toJson() const {
    return QJsonObject{
        {workDomainSelectionKey, workDomainSelection},
        {workDomainCustomKey, workDomainCustom},
        {customPromptKey, customPrompt},
        {transcriptionLanguageModeKey, transcriptionLanguageMode},
        {transcriptionModelKey, transcriptionModel},
    };
}

QByteArray PromptSettings::toJsonText() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<PromptSettings> PromptSettings::fromJson(const QJsonObject& json) {
    PromptSettings result;
    const std::pair<const QString&, QString*> fields[] = {
        {workDomainSelectionKey, &result.workDomainSelection},
        {workDomainCustomKey, &result.workDomainCustom},
        {customPromptKey, &result.customPrompt},
        {transcriptionLanguageModeKey, &result.transcriptionLanguageMode},
        {transcriptionModelKey, &result.transcriptionModel},
    };
    for (const auto& [key, field] : fields) {
        const QJsonValue value = json.value(key);
        if (!value.isString()) {
            return std::nullopt;
        }
        *field = value.toString();
    }
    return result;
}

std::optional<PromptSettings> PromptSettings::fromJsonText(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}
