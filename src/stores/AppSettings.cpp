#include "AppSettings.h"

#include "AppLogger.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

const QString backendURLKey = QStringLiteral("quillvane.backend_url");
const QString autoSpaceEnabledKey = QStringLiteral("quillvane.auto_space_enabled");
const QString verbatimModeStyleKey = QStringLiteral("quillvane.verbatim_mode_style");
const QString legacyVerbatimModeEnabledKey = QStringLiteral("quillvane.verbatim_mode_enabled");
const QString disableEmailFormattingKey = QStringLiteral("quillvane.disable_email_formatting");
const QString forceLowercaseOutputKey = QStringLiteral("quillvane.force_lowercase_output");
const QString autoPauseMediaKey = QStringLiteral("quillvane.auto_pause_media");
const QString mouseShortcutModeKey = QStringLiteral("quillvane.mouse_shortcut_mode");
const QString toggleHotkeyModeKey = QStringLiteral("quillvane.toggle_hotkey_mode");
const QString vdiTypingDelayKey = QStringLiteral("quillvane.vdi_typing_delay");
const QString silenceThresholdKey = QStringLiteral("quillvane.silence_threshold");
const QString selectedInputDeviceUIDKey = QStringLiteral("quillvane.selected_input_device_uid");
const QString smartEditHotkeyEnabledKey = QStringLiteral("quillvane.smart_edit_hotkey_enabled");
const QString vdiHotkeyEnabledKey = QStringLiteral("quillvane.vdi_hotkey_enabled");
const QString hotkeyKey = QStringLiteral("quillvane.hotkey");
const QString smartEditHotkeyKey = QStringLiteral("quillvane.smart_edit_hotkey");
const QString vdiHotkeyKey = QStringLiteral("quillvane.vdi_hotkey");

constexpr double minimumVdiTypingDelay = 0.001;
constexpr int minimumSilenceThreshold = 100;
constexpr int maximumSilenceThreshold = 800;

bool isVerbatimModeStyle(const QString& style) {
    return style == QLatin1String("off") || style == QLatin1String("assisted") ||
           style == QLatin1String("strict");
}

// A URL text that parses; nothing for an empty or malformed text.
std::optional<QUrl> parsedURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid()) {
        return std::nullopt;
    }
    return url;
}

// An environment value trimmed at both ends; nothing when absent or blank.
std::optional<QString> environmentValue(const char* name) {
    const QString value = qEnvironmentVariable(name).trimmed();
    if (value.isEmpty()) {
        return std::nullopt;
    }
    return value;
}

int clampedSilenceThreshold(qint64 value) {
    return int(std::clamp<qint64>(value, minimumSilenceThreshold, maximumSilenceThreshold));
}

} // namespace

QUrl AppSettings::builtInDefaultBackendBaseURL() {
    return QUrl(QStringLiteral("https://api.quillvane.app"));
}

HotkeyDefinition AppSettings::defaultHotkey() {
    return HotkeyDefinition{1, 0, 0, true, true};
}

HotkeyDefinition AppSettings::defaultSmartEditHotkey() {
    return HotkeyDefinition{2, 0, CarbonModifier::Control, true, true};
}

HotkeyDefinition AppSettings::defaultVdiHotkey() {
    return HotkeyDefinition{3, 49, CarbonModifier::Control | CarbonModifier::Option, false, false};
}

AppSettings::AppSettings(UserDefaults& defaults, QObject* parent) : QObject(parent), m_defaults(defaults) {
    load();
}

std::optional<QString> AppSettings::environmentBackendURLString() {
    if (auto url = environmentValue("QUILLVANE_BACKEND_URL")) {
        return url;
    }
    const QString environment = qEnvironmentVariable("QUILLVANE_APP_ENV").trimmed().toLower();
    if (environment == QLatin1String("development") || environment == QLatin1String("local")) {
        if (auto url = environmentValue("QUILLVANE_BACKEND_LOCAL_URL")) {
            return url;
        }
    }
    return environmentValue("QUILLVANE_BACKEND_REMOTE_URL");
}

// The environment's URL, or the built-in default when the environment names none or names one that
// does not parse.
QUrl AppSettings::environmentOrBuiltInBackendBaseURL() {
    if (const auto text = environmentBackendURLString()) {
        if (const auto url = parsedURL(*text)) {
            return *url;
        }
    }
    return builtInDefaultBackendBaseURL();
}

void AppSettings::load() {
    const UserDefaults& store = m_defaults;

    const auto environmentURL = environmentBackendURLString();
    const QString chosen =
        environmentURL ? *environmentURL
                       : store.stringValue(backendURLKey).value_or(builtInDefaultBackendBaseURL().toString());
    m_backendBaseURL = parsedURL(chosen).value_or(environmentOrBuiltInBackendBaseURL());

    m_autoSpaceEnabled = store.boolValue(autoSpaceEnabledKey).value_or(true);

    const auto storedStyle = store.stringValue(verbatimModeStyleKey);
    if (storedStyle && isVerbatimModeStyle(*storedStyle)) {
        m_verbatimModeStyle = *storedStyle;
    } else {
        m_verbatimModeStyle = store.boolValue(legacyVerbatimModeEnabledKey).value_or(false)
                                  ? QStringLiteral("assisted")
                                  : QStringLiteral("off");
    }

    m_disableEmailFormatting = store.boolValue(disableEmailFormattingKey).value_or(false);
    m_forceLowercaseOutput = store.boolValue(forceLowercaseOutputKey).value_or(false);
    m_autoPauseMedia = store.boolValue(autoPauseMediaKey).value_or(true);
    m_mouseShortcutMode = store.stringValue(mouseShortcutModeKey).value_or(QStringLiteral("dictation"));
    m_toggleHotkeyMode = store.boolValue(toggleHotkeyModeKey).value_or(false);
    m_vdiTypingDelay = std::max(store.doubleValue(vdiTypingDelayKey).value_or(0.01), minimumVdiTypingDelay);
    m_silenceThreshold = clampedSilenceThreshold(store.integerValue(silenceThresholdKey).value_or(180));
    m_selectedInputDeviceUID = store.stringValue(selectedInputDeviceUIDKey);
    m_smartEditHotkeyEnabled = store.boolValue(smartEditHotkeyEnabledKey).value_or(true);
    m_vdiHotkeyEnabled = store.boolValue(vdiHotkeyEnabledKey).value_or(false);

    m_hotkey = loadHotkey(hotkeyKey, defaultHotkey());
    m_smartEditHotkey = loadHotkey(smartEditHotkeyKey, defaultSmartEditHotkey());
    m_vdiHotkey = loadHotkey(vdiHotkeyKey, defaultVdiHotkey());
}

HotkeyDefinition AppSettings::normalizedForStorage(const HotkeyDefinition& hotkey) {
    HotkeyDefinition result = hotkey;
    if (hotkey.keyCode == 0) {
        result.isModifierOnly = hotkey.includesFunctionKey || hotkey.isModifierOnly;
    } else if (hotkey.keyCode == HotkeyDefinition::functionKeyCode && hotkey.includesFunctionKey) {
        result.keyCode = 0;
        result.includesFunctionKey = true;
        result.isModifierOnly = true;
    }
    return result;
}

HotkeyDefinition AppSettings::loadHotkey(const QString& key, const HotkeyDefinition& fallback) {
    const auto data = m_defaults.dataValue(key);
    if (!data) {
        return fallback;
    }
    const auto decoded = HotkeyDefinition::fromJsonText(*data);
    if (!decoded) {
        return fallback; // left in the store until the shortcut is next assigned
    }
    const HotkeyDefinition normalized = normalizedForStorage(*decoded);
    if (normalized != *decoded) {
        m_defaults.setData(key, normalized.toJsonText());
    }
    return normalized;
}

void AppSettings::fireChange() {
    if (onChange) {
        onChange();
    }
}

void AppSettings::fireHotkeysChanged() {
    if (onHotkeysChanged) {
        onHotkeysChanged();
    }
}

void AppSettings::persist(const HotkeyDefinition& hotkey, const QString& key) {
    // Encoding a shortcut cannot fail here: its fields are plain integers and Booleans.
    m_defaults.setData(key, normalizedForStorage(hotkey).toJsonText());
    fireHotkeysChanged();
}

void AppSettings::setBool(bool& field, bool value, const QString& key, void (AppSettings::*signal)(bool)) {
    field = value;
    emit(this->*signal)(value);
    m_defaults.setBool(key, value);
    fireChange();
}

void AppSettings::setBackendBaseURL(const QUrl& url) {
    m_backendBaseURL = url;
    emit backendBaseURLChanged(url);
    m_defaults.setString(backendURLKey, url.toString(QUrl::FullyEncoded));
    if (onBackendURLChanged) {
        onBackendURLChanged(url);
    }
    fireChange();
}

void AppSettings::setAutoSpaceEnabled(bool value) {
    setBool(m_autoSpaceEnabled, value, autoSpaceEnabledKey, &AppSettings::autoSpaceEnabledChanged);
}

void AppSettings::setVerbatimModeStyle(const QString& value) {
    m_verbatimModeStyle = value;
    emit verbatimModeStyleChanged(value);
    m_defaults.setString(verbatimModeStyleKey, value);
    fireChange();
}

void AppSettings::setDisableEmailFormatting(bool value) {
    setBool(m_disableEmailFormatting, value, disableEmailFormattingKey,
            &AppSettings::disableEmailFormattingChanged);
}

void AppSettings::setForceLowercaseOutput(bool value) {
    setBool(m_forceLowercaseOutput, value, forceLowercaseOutputKey,
            &AppSettings::forceLowercaseOutputChanged);
}

void AppSettings::setAutoPauseMedia(bool value) {
    setBool(m_autoPauseMedia, value, autoPauseMediaKey, &AppSettings::autoPauseMediaChanged);
}

void AppSettings::setMouseShortcutMode(const QString& value) {
    m_mouseShortcutMode = value;
    emit mouseShortcutModeChanged(value);
    m_defaults.setString(mouseShortcutModeKey, value);
    fireChange();
    if (onMouseShortcutModeChanged) {
        onMouseShortcutModeChanged(value);
    }
}

void AppSettings::setToggleHotkeyMode(bool value) {
    setBool(m_toggleHotkeyMode, value, toggleHotkeyModeKey, &AppSettings::toggleHotkeyModeChanged);
}

void AppSettings::setVdiTypingDelay(double value) {
    m_vdiTypingDelay = value;
    emit vdiTypingDelayChanged(value);
    m_defaults.setDouble(vdiTypingDelayKey, value);
    fireChange();
}

void AppSettings::setSilenceThreshold(int value) {
    m_silenceThreshold = value;
    emit silenceThresholdChanged(value);
    m_defaults.setInteger(silenceThresholdKey, value);
    fireChange();
}

void AppSettings::setSelectedInputDeviceUID(const std::optional<QString>& value) {
    m_selectedInputDeviceUID = value;
    emit selectedInputDeviceUIDChanged(value);
    if (value) {
        m_defaults.setString(selectedInputDeviceUIDKey, *value);
    } else {
        m_defaults.remove(selectedInputDeviceUIDKey);
    }
    fireChange();
}

void AppSettings::setSmartEditHotkeyEnabled(bool value) {
    setBool(m_smartEditHotkeyEnabled, value, smartEditHotkeyEnabledKey,
            &AppSettings::smartEditHotkeyEnabledChanged);
    fireHotkeysChanged();
}

void AppSettings::setVdiHotkeyEnabled(bool value) {
    setBool(m_vdiHotkeyEnabled, value, vdiHotkeyEnabledKey, &AppSettings::vdiHotkeyEnabledChanged);
    fireHotkeysChanged();
}

void AppSettings::setHotkey(const HotkeyDefinition& value) {
    m_hotkey = value;
    emit hotkeyChanged(value);
    persist(value, hotkeyKey);
}

void AppSettings::setSmartEditHotkey(const HotkeyDefinition& value) {
    m_smartEditHotkey = value;
    emit smartEditHotkeyChanged(value);
    persist(value, smartEditHotkeyKey);
}

void AppSettings::setVdiHotkey(const HotkeyDefinition& value) {
    m_vdiHotkey = value;
    emit vdiHotkeyChanged(value);
    persist(value, vdiHotkeyKey);
}

void AppSettings::resetToDefaults() {
    setBackendBaseURL(environmentOrBuiltInBackendBaseURL());
    setAutoSpaceEnabled(true);
    setVerbatimModeStyle(QStringLiteral("off"));
    setDisableEmailFormatting(false);
    setForceLowercaseOutput(false);
    setAutoPauseMedia(true);
    setMouseShortcutMode(QStringLiteral("dictation"));
    setToggleHotkeyMode(false);
    setVdiTypingDelay(0.01);
    setSilenceThreshold(180);
    setSelectedInputDeviceUID(std::nullopt);
    setSmartEditHotkeyEnabled(true);
    setVdiHotkeyEnabled(false);
    setHotkey(defaultHotkey());
    setSmartEditHotkey(defaultSmartEditHotkey());
    setVdiHotkey(defaultVdiHotkey());
    AppLogger::info(QStringLiteral("Reset app settings to defaults"));
}

bool AppSettings::applyRemoteSettings(const JSONValue::Object& settings) {
    if (settings.empty()) {
        return false;
    }
    bool changed = false;

    const auto valueOfKind = [&settings](const char* key, JSONValue::Kind kind) -> const JSONValue* {
        const auto it = settings.find(QString::fromLatin1(key));
        return it != settings.end() && it->second.kind() == kind ? &it->second : nullptr;
    };
    const auto applyBool = [&](const char* key, bool current, void (AppSettings::*setter)(bool)) {
        if (const JSONValue* value = valueOfKind(key, JSONValue::Kind::Bool);
            value && value->boolValue() != current) {
            (this->*setter)(value->boolValue());
            changed = true;
        }
    };
    const auto applyStyle = [&](const QString& style) {
        if (style != m_verbatimModeStyle) {
            setVerbatimModeStyle(style);
            changed = true;
        }
    };

    applyBool("auto_space_enabled", m_autoSpaceEnabled, &AppSettings::setAutoSpaceEnabled);
    if (const JSONValue* style = valueOfKind("verbatim_mode_style", JSONValue::Kind::String);
        style && isVerbatimModeStyle(style->stringValue())) {
        applyStyle(style->stringValue());
    }
    if (!settings.contains(QStringLiteral("verbatim_mode_style"))) {
        if (const JSONValue* enabled = valueOfKind("verbatim_mode_enabled", JSONValue::Kind::Bool)) {
            applyStyle(enabled->boolValue() ? QStringLiteral("assisted") : QStringLiteral("off"));
        }
    }
    applyBool("disable_email_formatting", m_disableEmailFormatting, &AppSettings::setDisableEmailFormatting);
    applyBool("force_lowercase_output", m_forceLowercaseOutput, &AppSettings::setForceLowercaseOutput);
    applyBool("auto_pause_media", m_autoPauseMedia, &AppSettings::setAutoPauseMedia);
    if (const JSONValue* mode = valueOfKind("mouse_shortcut_mode", JSONValue::Kind::String);
        mode && mode->stringValue() != m_mouseShortcutMode) {
        setMouseShortcutMode(mode->stringValue());
        changed = true;
    }
    applyBool("toggle_hotkey_mode", m_toggleHotkeyMode, &AppSettings::setToggleHotkeyMode);
    applyBool("smart_edit_hotkey_enabled", m_smartEditHotkeyEnabled, &AppSettings::setSmartEditHotkeyEnabled);
    applyBool("vdi_hotkey_enabled", m_vdiHotkeyEnabled, &AppSettings::setVdiHotkeyEnabled);
    // Numbers that are not finite have no value to apply and are skipped.
    if (const JSONValue* delay = valueOfKind("vdi_typing_delay", JSONValue::Kind::Number);
        delay && std::isfinite(delay->numberValue())) {
        const double value = std::max(delay->numberValue(), minimumVdiTypingDelay);
        if (value != m_vdiTypingDelay) {
            setVdiTypingDelay(value);
            changed = true;
        }
    }
    if (const JSONValue* threshold = valueOfKind("silence_threshold", JSONValue::Kind::Number);
        threshold && std::isfinite(threshold->numberValue())) {
        // Rounded halves away from zero, then clamped; clamping in floating point first keeps numbers
        // beyond the integer range from overflowing (they clamp to the same bound).
        const double rounded = std::round(threshold->numberValue());
        const int value =
            int(std::clamp(rounded, double(minimumSilenceThreshold), double(maximumSilenceThreshold)));
        if (value != m_silenceThreshold) {
            setSilenceThreshold(value);
            changed = true;
        }
    }

    if (changed) {
        AppLogger::info(QStringLiteral("Applied remote app settings"));
    }
    return changed;
}

JSONValue::Object AppSettings::cloudSettingsPayload() const {
    return JSONValue::Object{
        {QStringLiteral("auto_space_enabled"), JSONValue::boolean(m_autoSpaceEnabled)},
        {QStringLiteral("verbatim_mode_enabled"),
         JSONValue::boolean(m_verbatimModeStyle != QLatin1String("off"))},
        {QStringLiteral("verbatim_mode_style"), JSONValue::string(m_verbatimModeStyle)},
        {QStringLiteral("disable_email_formatting"), JSONValue::boolean(m_disableEmailFormatting)},
        {QStringLiteral("force_lowercase_output"), JSONValue::boolean(m_forceLowercaseOutput)},
        {QStringLiteral("auto_pause_media"), JSONValue::boolean(m_autoPauseMedia)},
        {QStringLiteral("mouse_shortcut_mode"), JSONValue::string(m_mouseShortcutMode)},
        {QStringLiteral("toggle_hotkey_mode"), JSONValue::boolean(m_toggleHotkeyMode)},
        {QStringLiteral("smart_edit_hotkey_enabled"), JSONValue::boolean(m_smartEditHotkeyEnabled)},
        {QStringLiteral("vdi_hotkey_enabled"), JSONValue::boolean(m_vdiHotkeyEnabled)},
        {QStringLiteral("vdi_typing_delay"), JSONValue::number(m_vdiTypingDelay)},
        {QStringLiteral("silence_threshold"), JSONValue::number(double(m_silenceThreshold))},
    };
}
