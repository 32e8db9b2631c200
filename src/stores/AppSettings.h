#pragma once

#include "HotkeyDefinition.h"
#include "JSONValue.h"
#include "UserDefaults.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The user's application settings. Every property is published, written to the user-defaults store the
// moment it is set and announced through the callbacks below (in this order: signal, store write,
// callbacks; a set of an equal value still writes and fires). Load limits (the typing-delay floor, the
// silence-threshold range) apply to stored and cloud values, never to values the user sets.
class AppSettings final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl backendBaseURL READ backendBaseURL WRITE setBackendBaseURL NOTIFY backendBaseURLChanged)
    Q_PROPERTY(
        bool autoSpaceEnabled READ autoSpaceEnabled WRITE setAutoSpaceEnabled NOTIFY autoSpaceEnabledChanged)
    Q_PROPERTY(QString verbatimModeStyle READ verbatimModeStyle WRITE setVerbatimModeStyle NOTIFY
                   verbatimModeStyleChanged)
    Q_PROPERTY(bool disableEmailFormatting READ disableEmailFormatting WRITE setDisableEmailFormatting NOTIFY
                   disableEmailFormattingChanged)
    Q_PROPERTY(bool forceLowercaseOutput READ forceLowercaseOutput WRITE setForceLowercaseOutput NOTIFY
                   forceLowercaseOutputChanged)
    Q_PROPERTY(bool autoPauseMedia READ autoPauseMedia WRITE setAutoPauseMedia NOTIFY autoPauseMediaChanged)
    Q_PROPERTY(QString mouseShortcutMode READ mouseShortcutMode WRITE setMouseShortcutMode NOTIFY
                   mouseShortcutModeChanged)
    Q_PROPERTY(
        bool toggleHotkeyMode READ toggleHotkeyMode WRITE setToggleHotkeyMode NOTIFY toggleHotkeyModeChanged)
    Q_PROPERTY(double vdiTypingDelay READ vdiTypingDelay WRITE setVdiTypingDelay NOTIFY vdiTypingDelayChanged)
    Q_PROPERTY(
        int silenceThreshold READ silenceThreshold WRITE setSilenceThreshold NOTIFY silenceThresholdChanged)
    Q_PROPERTY(std::optional<QString> selectedInputDeviceUID READ selectedInputDeviceUID WRITE
                   setSelectedInputDeviceUID NOTIFY selectedInputDeviceUIDChanged)
    Q_PROPERTY(bool smartEditHotkeyEnabled READ smartEditHotkeyEnabled WRITE setSmartEditHotkeyEnabled NOTIFY
                   smartEditHotkeyEnabledChanged)
    Q_PROPERTY(
        bool vdiHotkeyEnabled READ vdiHotkeyEnabled WRITE setVdiHotkeyEnabled NOTIFY vdiHotkeyEnabledChanged)
    Q_PROPERTY(HotkeyDefinition hotkey READ hotkey WRITE setHotkey NOTIFY hotkeyChanged)
    Q_PROPERTY(HotkeyDefinition smartEditHotkey READ smartEditHotkey WRITE setSmartEditHotkey NOTIFY
                   smartEditHotkeyChanged)
    Q_PROPERTY(HotkeyDefinition vdiHotkey READ vdiHotkey WRITE setVdiHotkey NOTIFY vdiHotkeyChanged)

public:
    // The persisted values, one member per setting. Their defaults live in one table in AppSettings.cpp
    // that the load, the reset, the remote apply and the cloud payload all read.
    struct Values {
        QUrl backendBaseURL;
        bool autoSpaceEnabled = false;
        QString verbatimModeStyle;
        bool disableEmailFormatting = false;
        bool forceLowercaseOutput = false;
        bool autoPauseMedia = false;
        QString mouseShortcutMode;
        bool toggleHotkeyMode = false;
        double vdiTypingDelay = 0;
        int silenceThreshold = 0;
        std::optional<QString> selectedInputDeviceUID;
        bool smartEditHotkeyEnabled = false;
        bool vdiHotkeyEnabled = false;
        HotkeyDefinition hotkey;
        HotkeyDefinition smartEditHotkey;
        HotkeyDefinition vdiHotkey;
    };

    // The backend origin used when neither the environment nor the store names one.
    static QUrl builtInDefaultBackendBaseURL();
    // The three default shortcuts: Fn held alone (dictation), Control and Fn held (AI Mode),
    // Control + Option + Space (Typing Mode).
    static HotkeyDefinition defaultHotkey();
    static HotkeyDefinition defaultSmartEditHotkey();
    static HotkeyDefinition defaultVdiHotkey();

    // Loads every setting from `defaults`. Writes nothing, except a stored shortcut in an old form,
    // which is written back normalised.
    explicit AppSettings(UserDefaults& defaults = UserDefaults::standard(), QObject* parent = nullptr);

    // Callbacks of the composition root; unset ones are skipped.
    std::function<void(const QUrl&)> onBackendURLChanged;
    std::function<void()> onChange;         // every persisted property except the three shortcuts
    std::function<void()> onHotkeysChanged; // the shortcuts and their two enable flags
    std::function<void(const QString&)> onMouseShortcutModeChanged;

    QUrl backendBaseURL() const { return m_values.backendBaseURL; }
    bool autoSpaceEnabled() const { return m_values.autoSpaceEnabled; }
    QString verbatimModeStyle() const { return m_values.verbatimModeStyle; }
    bool disableEmailFormatting() const { return m_values.disableEmailFormatting; }
    bool forceLowercaseOutput() const { return m_values.forceLowercaseOutput; }
    bool autoPauseMedia() const { return m_values.autoPauseMedia; }
    QString mouseShortcutMode() const { return m_values.mouseShortcutMode; }
    bool toggleHotkeyMode() const { return m_values.toggleHotkeyMode; }
    double vdiTypingDelay() const { return m_values.vdiTypingDelay; }
    int silenceThreshold() const { return m_values.silenceThreshold; }
    std::optional<QString> selectedInputDeviceUID() const { return m_values.selectedInputDeviceUID; }
    bool smartEditHotkeyEnabled() const { return m_values.smartEditHotkeyEnabled; }
    bool vdiHotkeyEnabled() const { return m_values.vdiHotkeyEnabled; }
    HotkeyDefinition hotkey() const { return m_values.hotkey; }
    HotkeyDefinition smartEditHotkey() const { return m_values.smartEditHotkey; }
    HotkeyDefinition vdiHotkey() const { return m_values.vdiHotkey; }

    void setBackendBaseURL(const QUrl& url);
    void setAutoSpaceEnabled(bool value);
    void setVerbatimModeStyle(const QString& value);
    void setDisableEmailFormatting(bool value);
    void setForceLowercaseOutput(bool value);
    void setAutoPauseMedia(bool value);
    void setMouseShortcutMode(const QString& value);
    void setToggleHotkeyMode(bool value);
    void setVdiTypingDelay(double value);
    void setSilenceThreshold(int value);
    void setSelectedInputDeviceUID(const std::optional<QString>& value); // none removes the key
    void setSmartEditHotkeyEnabled(bool value);
    void setVdiHotkeyEnabled(bool value);
    void setHotkey(const HotkeyDefinition& value);
    void setSmartEditHotkey(const HotkeyDefinition& value);
    void setVdiHotkey(const HotkeyDefinition& value);

    // Every property back to its default through the setters (the backend URL from the environment or
    // the built-in default), then the info line "Reset app settings to defaults".
    void resetToDefaults();

    // Applies the cloud `settings` map: only keys of the expected JSON kind whose computed value differs
    // from the current one, through the ordinary setters. True when anything changed (one info line then).
    bool applyRemoteSettings(const JSONValue::Object& settings);
    // The twelve synced settings as they currently are.
    JSONValue::Object cloudSettingsPayload() const;
    // `settings` without the entries of `keys`. The verbatim style and the earlier on/off flag carry one
    // setting: leaving out either leaves out both, so the flag cannot stand in for a style left out.
    static JSONValue::Object withoutCloudKeys(const JSONValue::Object& settings, const QSet<QString>& keys);

    // The stored form of a shortcut: key code 0 is modifier-only when Fn is part of it; the Fn key with
    // Fn becomes the Fn-only shortcut. Id and modifiers never change.
    static HotkeyDefinition normalizedForStorage(const HotkeyDefinition& hotkey);

signals:
    void backendBaseURLChanged(const QUrl& value);
    void autoSpaceEnabledChanged(bool value);
    void verbatimModeStyleChanged(const QString& value);
    void disableEmailFormattingChanged(bool value);
    void forceLowercaseOutputChanged(bool value);
    void autoPauseMediaChanged(bool value);
    void mouseShortcutModeChanged(const QString& value);
    void toggleHotkeyModeChanged(bool value);
    void vdiTypingDelayChanged(double value);
    void silenceThresholdChanged(int value);
    void selectedInputDeviceUIDChanged(const std::optional<QString>& value);
    void smartEditHotkeyEnabledChanged(bool value);
    void vdiHotkeyEnabledChanged(bool value);
    void hotkeyChanged(const HotkeyDefinition& value);
    void smartEditHotkeyChanged(const HotkeyDefinition& value);
    void vdiHotkeyChanged(const HotkeyDefinition& value);

private:
    static std::optional<QString> environmentBackendURLString();
    static QUrl environmentOrBuiltInBackendBaseURL();
    void load();
    void persist(const HotkeyDefinition& hotkey, const QString& key);
    HotkeyDefinition loadHotkey(const QString& key, const HotkeyDefinition& fallback);
    void setBool(bool& field, bool value, const QString& key, void (AppSettings::*signal)(bool));
    void fireChange();
    void fireHotkeysChanged();

    UserDefaults& m_defaults;
    Values m_values;
};
