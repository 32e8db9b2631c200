#pragma once

#include "JSONValue.h"
#include "PromptSettings.h"
#include "UserDefaults.h"

#include <QObject>

#include <functional>

// Owns the current prompt settings: published, stored as JSON under "quillvane.prompt_settings" on
// every set (signal, store write, then `onChange`; an equal value still writes and fires), and
// exchanged with the cloud configuration. A remote apply never fires `onChange`.
class PromptSettingsStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(PromptSettings settings READ settings WRITE setSettings NOTIFY settingsChanged)

public:
    // Loads the stored settings (the tier normalised); the defaults when absent or unreadable. Writes
    // nothing.
    explicit PromptSettingsStore(UserDefaults& defaults = UserDefaults::standard(),
                                 QObject* parent = nullptr);

    std::function<void()> onChange;

    PromptSettings settings() const { return m_settings; }
    void setSettings(const PromptSettings& settings);

    // The defaults through the setter, then the info line "Reset prompt settings to defaults".
    void resetToDefaults();

    // The five fields as strings under their cloud keys.
    JSONValue::Object cloudSettingsPayload() const;
    // Takes string values that differ from the current field; true when anything changed (one info
    // line then). Does not fire `onChange`.
    bool applyRemoteSettings(const JSONValue::Object& settings);

    // The tier id for an accepted tier name (trimmed, any case); any other text trimmed, in its own case.
    static QString normalizePublicModelChoice(const QString& choice);

signals:
    void settingsChanged(const PromptSettings& settings);

private:
    void save();

    UserDefaults& m_defaults;
    PromptSettings m_settings;
    bool m_suppressChangeCallback = false;
};
