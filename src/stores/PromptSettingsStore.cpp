#include "PromptSettingsStore.h"

#include "AppLogger.h"

#include <QHash>

namespace {
const QString promptSettingsKey = QStringLiteral("quillvane.prompt_settings");
} // namespace

PromptSettingsStore::PromptSettingsStore(UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults) {
    if (const auto data = m_defaults.dataValue(promptSettingsKey)) {
        if (auto stored = PromptSettings::fromJsonText(*data)) {
            stored->transcriptionModel = normalizePublicModelChoice(stored->transcriptionModel);
            m_settings = *stored;
        }
    }
}

void PromptSettingsStore::setSettings(const PromptSettings& settings) {
    m_settings = settings;
    emit settingsChanged(m_settings);
    save();
    if (!m_suppressChangeCallback && onChange) {
        onChange();
    }
}

void PromptSettingsStore::save() {
    // Encoding plain strings cannot fail.
    m_defaults.setData(promptSettingsKey, m_settings.toJsonText());
}

void PromptSettingsStore::resetToDefaults() {
    setSettings(PromptSettings{});
    AppLogger::info(QStringLiteral("Reset prompt settings to defaults"));
}

JSONValue::Object PromptSettingsStore::cloudSettingsPayload() const {
    return JSONValue::Object{
        {QStringLiteral("work_domain_selection"), JSONValue::string(m_settings.workDomainSelection)},
        {QStringLiteral("work_domain_custom"), JSONValue::string(m_settings.workDomainCustom)},
        {QStringLiteral("custom_prompt"), JSONValue::string(m_settings.customPrompt)},
        {QStringLiteral("transcription_language_mode"),
         JSONValue::string(m_settings.transcriptionLanguageMode)},
        {QStringLiteral("transcription_model"), JSONValue::string(m_settings.transcriptionModel)},
    };
}

bool PromptSettingsStore::applyRemoteSettings(const JSONValue::Object& settings) {
    if (settings.empty()) {
        return false;
    }
    PromptSettings updated = m_settings;
    bool changed = false;
    const std::pair<const char*, QString*> fields[] = {
        {"work_domain_selection", &updated.workDomainSelection},
        {"work_domain_custom", &updated.workDomainCustom},
        {"custom_prompt", &updated.customPrompt},
        {"transcription_language_mode", &updated.transcriptionLanguageMode},
        {"transcription_model", &updated.transcriptionModel},
    };
    for (const auto& [key, field] : fields) {
        const auto it = settings.find(QString::fromLatin1(key));
        if (it == settings.end() || it->second.kind() != JSONValue::Kind::String) {
            continue;
        }
        const QString& value = it->second.stringValue();
        // Compared before normalising: an alias of the current tier still counts as a change.
        if (value == *field) {
            continue;
        }
        *field = field == &updated.transcriptionModel ? normalizePublicModelChoice(value) : value;
        changed = true;
    }
    if (!changed) {
        return false;
    }
    m_suppressChangeCallback = true;
    setSettings(updated);
    m_suppressChangeCallback = false;
    AppLogger::info(QStringLiteral("Applied remote prompt settings"));
    return true;
}

QString PromptSettingsStore::normalizePublicModelChoice(const QString& choice) {
    static const QHash<QString, QString> tiers = [] {
        QHash<QString, QString> table;
        for (const char* name : {"tidewell", "nova-3", "nova-3-medical", "medium", "balanced"}) {
            table.insert(QString::fromLatin1(name), QStringLiteral("tidewell"));
        }
        for (const char* name : {"zephyrix", "whisper-large-v3-turbo", "fast"}) {
            table.insert(QString::fromLatin1(name), QStringLiteral("zephyrix"));
        }
        for (const char* name :
             {"keystoner", "keystoner deck", "gpt-4o-transcribe", "large", "premium", "pro"}) {
            table.insert(QString::fromLatin1(name), QStringLiteral("keystoner"));
        }
        return table;
    }();
    const QString trimmed = choice.trimmed();
    return tiers.value(trimmed.toLower(), trimmed);
}
