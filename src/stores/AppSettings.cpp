#include "AppSettings.h"

#include "AppLogger.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <type_traits>

namespace {

using Values = AppSettings::Values;

// One persisted setting: its name (the user-defaults key is "quillvane." + name; a synced setting has
// the name as its cloud key too), where its value lives, its setter and its default. Values read from
// the store or the cloud must pass `accepts` when it is given; otherwise they are taken as they are,
// unknown texts included (a newer client may know them). Numbers from either go through `limit`.
template <class T> struct Setting {
    using Param = std::conditional_t<std::is_scalar_v<T>, T, const T&>;
    const char* name;
    T Values::*field;
    void (AppSettings::*set)(Param);
    T fallback;
    bool (*accepts)(const T&) = nullptr;
    T (*limit)(double) = nullptr;

    QString key() const { return QStringLiteral("quillvane.") + QLatin1String(name); }
};

bool isVerbatimModeStyle(const QString& style) {
    return style == QLatin1String("off") || style == QLatin1String("assisted") ||
           style == QLatin1String("strict");
}

double atLeastOneMillisecond(double seconds) {
    return std::max(seconds, 0.001);
}

// Rounded (halves away from zero), then clamped; clamping in floating point keeps numbers beyond the
// integer range from overflowing.
int silenceThresholdInRange(double value) {
    return int(std::clamp(std::round(value), 100.0, 800.0));
}

// The settings and their defaults, each written here once.
const Setting<QUrl> kBackendURL{.name = "backend_url",
                                .field = &Values::backendBaseURL,
                                .set = &AppSettings::setBackendBaseURL,
                                .fallback = QUrl(QStringLiteral("https://api.quillvane.app"))};
const Setting<bool> kAutoSpaceEnabled{.name = "auto_space_enabled",
                                      .field = &Values::autoSpaceEnabled,
                                      .set = &AppSettings::setAutoSpaceEnabled,
                                      .fallback = true};
const Setting<QString> kVerbatimModeStyle{.name = "verbatim_mode_style",
                                          .field = &Values::verbatimModeStyle,
                                          .set = &AppSettings::setVerbatimModeStyle,
                                          .fallback = QStringLiteral("off"),
                                          .accepts = &isVerbatimModeStyle};
const Setting<bool> kDisableEmailFormatting{.name = "disable_email_formatting",
                                            .field = &Values::disableEmailFormatting,
                                            .set = &AppSettings::setDisableEmailFormatting,
                                            .fallback = false};
const Setting<bool> kForceLowercaseOutput{.name = "force_lowercase_output",
                                          .field = &Values::forceLowercaseOutput,
                                          .set = &AppSettings::setForceLowercaseOutput,
                                          .fallback = false};
const Setting<bool> kAutoPauseMedia{.name = "auto_pause_media",
                                    .field = &Values::autoPauseMedia,
                                    .set = &AppSettings::setAutoPauseMedia,
                                    .fallback = true};
const Setting<QString> kMouseShortcutMode{.name = "mouse_shortcut_mode",
                                          .field = &Values::mouseShortcutMode,
                                          .set = &AppSettings::setMouseShortcutMode,
                                          .fallback = QStringLiteral("dictation")};
const Setting<bool> kToggleHotkeyMode{.name = "toggle_hotkey_mode",
                                      .field = &Values::toggleHotkeyMode,
                                      .set = &AppSettings::setToggleHotkeyMode,
                                      .fallback = false};
const Setting<double> kVdiTypingDelay{.name = "vdi_typing_delay",
                                      .field = &Values::vdiTypingDelay,
                                      .set = &AppSettings::setVdiTypingDelay,
                                      .fallback = 0.01,
                                      .limit = &atLeastOneMillisecond};
const Setting<int> kSilenceThreshold{.name = "silence_threshold",
                                     .field = &Values::silenceThreshold,
                                     .set = &AppSettings::setSilenceThreshold,
                                     .fallback = 180,
                                     .limit = &silenceThresholdInRange};
const Setting<std::optional<QString>> kSelectedInputDeviceUID{.name = "selected_input_device_uid",
                                                              .field = &Values::selectedInputDeviceUID,
                                                              .set = &AppSettings::setSelectedInputDeviceUID,
                                                              .fallback = std::nullopt};
const Setting<bool> kSmartEditHotkeyEnabled{.name = "smart_edit_hotkey_enabled",
                                            .field = &Values::smartEditHotkeyEnabled,
                                            .set = &AppSettings::setSmartEditHotkeyEnabled,
                                            .fallback = true};
const Setting<bool> kVdiHotkeyEnabled{.name = "vdi_hotkey_enabled",
                                      .field = &Values::vdiHotkeyEnabled,
                                      .set = &AppSettings::setVdiHotkeyEnabled,
                                      .fallback = false};
// Fn held alone (dictation), Control and Fn held (AI Mode), Control + Option + Space (Typing Mode).
const Setting<HotkeyDefinition> kHotkey{.name = "hotkey",
                                        .field = &Values::hotkey,
                                        .set = &AppSettings::setHotkey,
                                        .fallback = HotkeyDefinition{1, 0, 0, true, true}};
const Setting<HotkeyDefinition> kSmartEditHotkey{
    .name = "smart_edit_hotkey",
    .field = &Values::smartEditHotkey,
    .set = &AppSettings::setSmartEditHotkey,
    .fallback = HotkeyDefinition{2, 0, CarbonModifier::Control, true, true}};
const Setting<HotkeyDefinition> kVdiHotkey{
    .name = "vdi_hotkey",
    .field = &Values::vdiHotkey,
    .set = &AppSettings::setVdiHotkey,
    .fallback = HotkeyDefinition{3, 49, CarbonModifier::Control | CarbonModifier::Option, false, false}};

// The earlier form of the verbatim setting: read from the store and the cloud and sent in the cloud
// payload, never written to the store.
struct LegacyVerbatimFlag {
    const char* name = "verbatim_mode_enabled";
    QString key() const { return QStringLiteral("quillvane.") + QLatin1String(name); }
};
const LegacyVerbatimFlag kVerbatimModeEnabled;

// Every setting in declaration order: the order of the load and of a reset.
const auto kSettings =
    std::tie(kBackendURL, kAutoSpaceEnabled, kVerbatimModeStyle, kDisableEmailFormatting,
             kForceLowercaseOutput, kAutoPauseMedia, kMouseShortcutMode, kToggleHotkeyMode, kVdiTypingDelay,
             kSilenceThreshold, kSelectedInputDeviceUID, kSmartEditHotkeyEnabled, kVdiHotkeyEnabled, kHotkey,
             kSmartEditHotkey, kVdiHotkey);
// The synced settings, in the order a cloud configuration is applied; the cloud payload holds these.
const auto kCloudOrder =
    std::tie(kAutoSpaceEnabled, kVerbatimModeStyle, kVerbatimModeEnabled, kDisableEmailFormatting,
             kForceLowercaseOutput, kAutoPauseMedia, kMouseShortcutMode, kToggleHotkeyMode,
             kSmartEditHotkeyEnabled, kVdiHotkeyEnabled, kVdiTypingDelay, kSilenceThreshold);

template <class Table, class Visit> void forEach(const Table& table, Visit&& visit) {
    std::apply([&](const auto&... setting) { (visit(setting), ...); }, table);
}

// A value of the setting's kind from the store, accepted and limited; nothing when absent, of another
// kind or not accepted.
template <class T> std::optional<T> storedValue(const UserDefaults& store, const Setting<T>& setting) {
    std::optional<T> value;
    if constexpr (std::is_same_v<T, bool>) {
        value = store.boolValue(setting.key());
    } else if constexpr (std::is_same_v<T, QString>) {
        value = store.stringValue(setting.key());
    } else if constexpr (std::is_same_v<T, int>) {
        if (const auto number = store.integerValue(setting.key())) {
            value = setting.limit(double(*number));
        }
    } else if constexpr (std::is_same_v<T, double>) {
        if (const auto number = store.doubleValue(setting.key())) {
            value = setting.limit(*number);
        }
    }
    if (value && setting.accepts && !setting.accepts(*value)) {
        value.reset();
    }
    return value;
}

// The same for a value of the cloud map: only the expected JSON kind, never coerced; numbers that are
// not finite have no value.
template <class T> std::optional<T> cloudValue(const JSONValue::Object& settings, const Setting<T>& setting) {
    const auto it = settings.find(QLatin1String(setting.name));
    if (it == settings.end()) {
        return std::nullopt;
    }
    const JSONValue& json = it->second;
    std::optional<T> value;
    if constexpr (std::is_same_v<T, bool>) {
        if (json.kind() == JSONValue::Kind::Bool) {
            value = json.boolValue();
        }
    } else if constexpr (std::is_same_v<T, QString>) {
        if (json.kind() == JSONValue::Kind::String) {
            value = json.stringValue();
        }
    } else {
        if (json.kind() == JSONValue::Kind::Number && std::isfinite(json.numberValue())) {
            value = setting.limit(json.numberValue());
        }
    }
    if (value && setting.accepts && !setting.accepts(*value)) {
        value.reset();
    }
    return value;
}

template <class T> JSONValue cloudForm(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return JSONValue::boolean(value);
    } else if constexpr (std::is_same_v<T, QString>) {
        return JSONValue::string(value);
    } else {
        return JSONValue::number(double(value));
    }
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

} // namespace

QUrl AppSettings::builtInDefaultBackendBaseURL() {
    return kBackendURL.fallback;
}

HotkeyDefinition AppSettings::defaultHotkey() {
    return kHotkey.fallback;
}

HotkeyDefinition AppSettings::defaultSmartEditHotkey() {
    return kSmartEditHotkey.fallback;
}

HotkeyDefinition AppSettings::defaultVdiHotkey() {
    return kVdiHotkey.fallback;
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
    forEach(kSettings, [&](const auto& setting) {
        using T = std::remove_cvref_t<decltype(setting.fallback)>;
        T& field = m_values.*setting.field;
        if constexpr (std::is_same_v<T, QUrl>) {
            // The environment beats the store; a text that does not parse falls back to the
            // environment or the built-in default. Loading never writes this key.
            const auto environmentURL = environmentBackendURLString();
            const QString chosen =
                environmentURL ? *environmentURL
                               : store.stringValue(setting.key()).value_or(setting.fallback.toString());
            field = parsedURL(chosen).value_or(environmentOrBuiltInBackendBaseURL());
        } else if constexpr (std::is_same_v<T, std::optional<QString>>) {
            field = store.stringValue(setting.key());
        } else if constexpr (std::is_same_v<T, HotkeyDefinition>) {
            field = loadHotkey(setting.key(), setting.fallback);
        } else {
            field = storedValue(store, setting).value_or(setting.fallback);
        }
    });
    // A missing or unknown style falls back to the earlier on/off flag.
    if (!storedValue(store, kVerbatimModeStyle)) {
        m_values.verbatimModeStyle = store.boolValue(kVerbatimModeEnabled.key()).value_or(false)
                                         ? QStringLiteral("assisted")
                                         : QStringLiteral("off");
    }
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
    m_values.backendBaseURL = url;
    emit backendBaseURLChanged(url);
    m_defaults.setString(kBackendURL.key(), url.toString(QUrl::FullyEncoded));
    if (onBackendURLChanged) {
        onBackendURLChanged(url);
    }
    fireChange();
}

void AppSettings::setAutoSpaceEnabled(bool value) {
    setBool(m_values.autoSpaceEnabled, value, kAutoSpaceEnabled.key(), &AppSettings::autoSpaceEnabledChanged);
}

void AppSettings::setVerbatimModeStyle(const QString& value) {
    m_values.verbatimModeStyle = value;
    emit verbatimModeStyleChanged(value);
    m_defaults.setString(kVerbatimModeStyle.key(), value);
    fireChange();
}

void AppSettings::setDisableEmailFormatting(bool value) {
    setBool(m_values.disableEmailFormatting, value, kDisableEmailFormatting.key(),
            &AppSettings::disableEmailFormattingChanged);
}

void AppSettings::setForceLowercaseOutput(bool value) {
    setBool(m_values.forceLowercaseOutput, value, kForceLowercaseOutput.key(),
            &AppSettings::forceLowercaseOutputChanged);
}

void AppSettings::setAutoPauseMedia(bool value) {
    setBool(m_values.autoPauseMedia, value, kAutoPauseMedia.key(), &AppSettings::autoPauseMediaChanged);
}

void AppSettings::setMouseShortcutMode(const QString& value) {
    m_values.mouseShortcutMode = value;
    emit mouseShortcutModeChanged(value);
    m_defaults.setString(kMouseShortcutMode.key(), value);
    fireChange();
    if (onMouseShortcutModeChanged) {
        onMouseShortcutModeChanged(value);
    }
}

void AppSettings::setToggleHotkeyMode(bool value) {
    setBool(m_values.toggleHotkeyMode, value, kToggleHotkeyMode.key(), &AppSettings::toggleHotkeyModeChanged);
}

void AppSettings::setVdiTypingDelay(double value) {
    m_values.vdiTypingDelay = value;
    emit vdiTypingDelayChanged(value);
    m_defaults.setDouble(kVdiTypingDelay.key(), value);
    fireChange();
}

void AppSettings::setSilenceThreshold(int value) {
    m_values.silenceThreshold = value;
    emit silenceThresholdChanged(value);
    m_defaults.setInteger(kSilenceThreshold.key(), value);
    fireChange();
}

void AppSettings::setSelectedInputDeviceUID(const std::optional<QString>& value) {
    m_values.selectedInputDeviceUID = value;
    emit selectedInputDeviceUIDChanged(value);
    if (value) {
        m_defaults.setString(kSelectedInputDeviceUID.key(), *value);
    } else {
        m_defaults.remove(kSelectedInputDeviceUID.key());
    }
    fireChange();
}

void AppSettings::setSmartEditHotkeyEnabled(bool value) {
    setBool(m_values.smartEditHotkeyEnabled, value, kSmartEditHotkeyEnabled.key(),
            &AppSettings::smartEditHotkeyEnabledChanged);
    fireHotkeysChanged();
}

void AppSettings::setVdiHotkeyEnabled(bool value) {
    setBool(m_values.vdiHotkeyEnabled, value, kVdiHotkeyEnabled.key(), &AppSettings::vdiHotkeyEnabledChanged);
    fireHotkeysChanged();
}

void AppSettings::setHotkey(const HotkeyDefinition& value) {
    m_values.hotkey = value;
    emit hotkeyChanged(value);
    persist(value, kHotkey.key());
}

void AppSettings::setSmartEditHotkey(const HotkeyDefinition& value) {
    m_values.smartEditHotkey = value;
    emit smartEditHotkeyChanged(value);
    persist(value, kSmartEditHotkey.key());
}

void AppSettings::setVdiHotkey(const HotkeyDefinition& value) {
    m_values.vdiHotkey = value;
    emit vdiHotkeyChanged(value);
    persist(value, kVdiHotkey.key());
}

void AppSettings::resetToDefaults() {
    // Every setting through its own setter, so each writes the store and fires its callbacks. The
    // backend URL goes back to the environment's, when it names one.
    forEach(kSettings, [this](const auto& setting) {
        using T = std::remove_cvref_t<decltype(setting.fallback)>;
        if constexpr (std::is_same_v<T, QUrl>) {
            (this->*setting.set)(environmentOrBuiltInBackendBaseURL());
        } else {
            (this->*setting.set)(setting.fallback);
        }
    });
    AppLogger::info(QStringLiteral("Reset app settings to defaults"));
}

bool AppSettings::applyRemoteSettings(const JSONValue::Object& settings) {
    if (settings.empty()) {
        return false;
    }
    bool changed = false;
    forEach(kCloudOrder, [&](const auto& setting) {
        using Row = std::remove_cvref_t<decltype(setting)>;
        if constexpr (std::is_same_v<Row, LegacyVerbatimFlag>) {
            // Only from a client that sends no style at all.
            const auto it = settings.find(QLatin1String(setting.name));
            if (settings.contains(QLatin1String(kVerbatimModeStyle.name)) || it == settings.end() ||
                it->second.kind() != JSONValue::Kind::Bool) {
                return;
            }
            const QString style = it->second.boolValue() ? QStringLiteral("assisted") : QStringLiteral("off");
            if (style != m_values.verbatimModeStyle) {
                setVerbatimModeStyle(style);
                changed = true;
            }
        } else if (const auto value = cloudValue(settings, setting);
                   value && *value != m_values.*setting.field) {
            (this->*setting.set)(*value);
            changed = true;
        }
    });
    if (changed) {
        AppLogger::info(QStringLiteral("Applied remote app settings"));
    }
    return changed;
}

JSONValue::Object AppSettings::cloudSettingsPayload() const {
    // The current values as they are: no load limit applies to what is sent.
    JSONValue::Object payload;
    forEach(kCloudOrder, [&](const auto& setting) {
        using Row = std::remove_cvref_t<decltype(setting)>;
        if constexpr (std::is_same_v<Row, LegacyVerbatimFlag>) {
            payload[QLatin1String(setting.name)] =
                JSONValue::boolean(m_values.verbatimModeStyle != QLatin1String("off"));
        } else {
            payload[QLatin1String(setting.name)] = cloudForm(m_values.*setting.field);
        }
    });
    return payload;
}

JSONValue::Object AppSettings::withoutCloudKeys(const JSONValue::Object& settings,
                                                const QSet<QString>& keys) {
    const QString style = QLatin1String(kVerbatimModeStyle.name);
    const QString flag = QLatin1String(kVerbatimModeEnabled.name);
    const bool verbatimLeftOut = keys.contains(style) || keys.contains(flag);
    JSONValue::Object result;
    for (const auto& [key, value] : settings) {
        if (keys.contains(key) || (verbatimLeftOut && (key == style || key == flag))) {
            continue;
        }
        result.emplace(key, value);
    }
    return result;
}
