#include "AppSettings.h"
#include "SettingsTestSupport.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QTest>

#include <functional>

using SettingsAction = std::function<void(AppSettings&)>;
using StoreCheck = std::function<bool(const UserDefaults&)>;
Q_DECLARE_METATYPE(SettingsAction)
Q_DECLARE_METATYPE(StoreCheck)
Q_DECLARE_METATYPE(JSONValue::Object)

namespace {

const QByteArray backendVariables[] = {"QUILLVANE_BACKEND_URL", "QUILLVANE_APP_ENV",
                                       "QUILLVANE_BACKEND_LOCAL_URL", "QUILLVANE_BACKEND_REMOTE_URL"};

QJsonObject hotkeyJson(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers, bool fn,
                       bool modifierOnly) {
    return HotkeyDefinition{id, keyCode, modifiers, fn, modifierOnly}.toJson();
}

QString hotkeyText(const QJsonObject& json) {
    return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact));
}

JSONValue str(const char* text) {
    return JSONValue::string(QString::fromUtf8(text));
}
JSONValue num(double value) {
    return JSONValue::number(value);
}
JSONValue flag(bool value) {
    return JSONValue::boolean(value);
}

// Calls `fire` whenever a signal it is connected to is emitted (whatever the signal's arguments).
class SignalProbe : public QObject {
    Q_OBJECT
public:
    explicit SignalProbe(std::function<void()> fire, QObject* parent)
        : QObject(parent), m_fire(std::move(fire)) {}
public slots:
    void fire() { m_fire(); }

private:
    std::function<void()> m_fire;
};

// Records, in order, every published change ("publish <property>") and every callback of one
// AppSettings; with a `written` check, each event is marked with whether the store held the new value
// at that moment.
class Recorder {
public:
    QStringList events;
    StoreCheck written;

    void attach(AppSettings& settings, const UserDefaults& store) {
        m_store = &store;
        const QMetaObject* meta = settings.metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QString name = QString::fromLatin1(meta->property(i).name());
            auto* probe =
                new SignalProbe([this, name] { record(QStringLiteral("publish ") + name); }, &settings);
            QVERIFY(
                QObject::connect(&settings, meta->property(i).notifySignal(), probe,
                                 probe->metaObject()->method(probe->metaObject()->indexOfSlot("fire()"))));
        }
        settings.onChange = [this] { record(QStringLiteral("onChange")); };
        settings.onHotkeysChanged = [this] { record(QStringLiteral("onHotkeysChanged")); };
        settings.onBackendURLChanged = [this](const QUrl& url) {
            record(QStringLiteral("onBackendURLChanged ") + url.toString());
        };
        settings.onMouseShortcutModeChanged = [this](const QString& mode) {
            record(QStringLiteral("onMouseShortcutModeChanged ") + mode);
        };
    }

private:
    void record(const QString& event) {
        if (written) {
            events << event +
                          (written(*m_store) ? QStringLiteral(" (written)") : QStringLiteral(" (unwritten)"));
        } else {
            events << event;
        }
    }
    const UserDefaults* m_store = nullptr;
};

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

    ScopedEnvironment m_processEnvironment;
    QTemporaryDir m_runtime;
    std::unique_ptr<ScopedEnvironment> m_environment;
    std::unique_ptr<TestDefaults> m_defaults;

    void clearBackendVariables() {
        for (const QByteArray& name : backendVariables) {
            m_environment->set(name, std::nullopt);
        }
    }

    QVariantMap publishedValues(const AppSettings& settings) {
        QVariantMap values;
        const QMetaObject* meta = settings.metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            values.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(&settings));
        }
        return values;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_runtime.isValid());
        m_processEnvironment.set("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }

    void init() {
        m_environment = std::make_unique<ScopedEnvironment>();
        clearBackendVariables();
        m_defaults = std::make_unique<TestDefaults>();
    }

    void cleanup() {
        m_defaults.reset();
        m_environment.reset(); // restores the variables the test changed
    }

    void firstLaunchGivesTheDefaultsAndWritesNothing() {
        AppSettings settings(m_defaults->store());
        QCOMPARE(settings.backendBaseURL(), QUrl("https://api.quillvane.app"));
        QCOMPARE(settings.autoSpaceEnabled(), true);
        QCOMPARE(settings.verbatimModeStyle(), QString("off"));
        QCOMPARE(settings.disableEmailFormatting(), false);
        QCOMPARE(settings.forceLowercaseOutput(), false);
        QCOMPARE(settings.autoPauseMedia(), true);
        QCOMPARE(settings.mouseShortcutMode(), QString("dictation"));
        QCOMPARE(settings.toggleHotkeyMode(), false);
        QCOMPARE(settings.vdiTypingDelay(), 0.01);
        QCOMPARE(settings.silenceThreshold(), 180);
        QCOMPARE(settings.selectedInputDeviceUID(), std::nullopt);
        QCOMPARE(settings.smartEditHotkeyEnabled(), true);
        QCOMPARE(settings.vdiHotkeyEnabled(), false);
        QCOMPARE(settings.hotkey(), (HotkeyDefinition{1, 0, 0, true, true}));
        QCOMPARE(settings.smartEditHotkey(), (HotkeyDefinition{2, 0, 4096, true, true}));
        QCOMPARE(settings.vdiHotkey(), (HotkeyDefinition{3, 49, 6144, false, false}));
        QCOMPARE(settings.hotkey().displayString(), QString("Right Ctrl"));
        QCOMPARE(settings.smartEditHotkey().displayString(), QString("Ctrl + Right Ctrl"));
        QCOMPARE(settings.vdiHotkey().displayString(), QString("Alt + Ctrl + Space"));
        QVERIFY(!m_defaults->fileExists());
    }

    void backendURLPrecedence_data() {
        QTest::addColumn<QByteArray>("backendURL"); // a null QByteArray leaves the variable unset
        QTest::addColumn<QByteArray>("appEnv");
        QTest::addColumn<QByteArray>("localURL");
        QTest::addColumn<QByteArray>("remoteURL");
        QTest::addColumn<QJsonValue>("stored"); // undefined: no stored value
        QTest::addColumn<QString>("expected");
        const QByteArray unset;
        const QJsonValue none(QJsonValue::Undefined);
        const QString builtIn = "https://api.quillvane.app";

        QTest::newRow("nothing: built-in") << unset << unset << unset << unset << none << builtIn;
        QTest::newRow("stored only") << unset << unset << unset << unset
                                     << QJsonValue("http://127.0.0.1:7000") << "http://127.0.0.1:7000";
        QTest::newRow("backend URL beats the stored value")
            << QByteArray("http://127.0.0.1:7001") << unset << unset << QByteArray("http://127.0.0.1:7004")
            << QJsonValue("http://127.0.0.1:7000") << "http://127.0.0.1:7001";
        QTest::newRow("backend URL is trimmed") << QByteArray(" \thttp://127.0.0.1:7001/\n ") << unset
                                                << unset << unset << none << "http://127.0.0.1:7001/";
        QTest::newRow("blank backend URL counts as absent")
            << QByteArray("  \n ") << unset << unset << QByteArray("http://127.0.0.1:7004") << none
            << "http://127.0.0.1:7004";
        QTest::newRow("' Local ' picks the local URL")
            << unset << QByteArray(" Local ") << QByteArray("http://127.0.0.1:7003")
            << QByteArray("http://127.0.0.1:7004") << none << "http://127.0.0.1:7003";
        QTest::newRow("development picks the local URL")
            << unset << QByteArray("DEVELOPMENT") << QByteArray("http://127.0.0.1:7003")
            << QByteArray("http://127.0.0.1:7004") << none << "http://127.0.0.1:7003";
        QTest::newRow("another environment ignores the local URL")
            << unset << QByteArray("staging") << QByteArray("http://127.0.0.1:7003")
            << QByteArray("http://127.0.0.1:7004") << none << "http://127.0.0.1:7004";
        QTest::newRow("no environment name ignores the local URL")
            << unset << unset << QByteArray("http://127.0.0.1:7003") << unset
            << QJsonValue("http://127.0.0.1:7000") << "http://127.0.0.1:7000";
        QTest::newRow("development without a local URL takes the remote one")
            << unset << QByteArray("development") << QByteArray(" ") << QByteArray("http://127.0.0.1:7004")
            << none << "http://127.0.0.1:7004";
        QTest::newRow("local with no URL at all takes the stored value")
            << unset << QByteArray("local") << unset << unset << QJsonValue("http://127.0.0.1:7000")
            << "http://127.0.0.1:7000";
        QTest::newRow("stored value that does not parse: built-in")
            << unset << unset << unset << unset << QJsonValue("http://exa mple.com") << builtIn;
        QTest::newRow("stored value of another kind: built-in")
            << unset << unset << unset << unset << QJsonValue(42) << builtIn;
        QTest::newRow("environment value that does not parse: built-in, stored value ignored")
            << QByteArray("http://bad host") << unset << unset << unset << QJsonValue("http://127.0.0.1:7000")
            << builtIn;
    }

    void backendURLPrecedence() {
        QFETCH(QByteArray, backendURL);
        QFETCH(QByteArray, appEnv);
        QFETCH(QByteArray, localURL);
        QFETCH(QByteArray, remoteURL);
        QFETCH(QJsonValue, stored);
        QFETCH(QString, expected);
        const QByteArray* values[] = {&backendURL, &appEnv, &localURL, &remoteURL};
        for (int i = 0; i < 4; ++i) {
            m_environment->set(backendVariables[i],
                               values[i]->isNull() ? std::nullopt : std::optional<QByteArray>(*values[i]));
        }
        QJsonObject raw;
        if (!stored.isUndefined()) {
            raw.insert("quillvane.backend_url", stored);
        }
        m_defaults->writeRaw(raw);

        AppSettings settings(m_defaults->store());
        QCOMPARE(settings.backendBaseURL(), QUrl(expected));
        QCOMPARE(m_defaults->fileContents(), raw); // loading never writes the URL
    }

    void resetReplacesAStoredURLWithTheEnvironmentURL() {
        m_environment->set("QUILLVANE_BACKEND_URL", QByteArray("http://127.0.0.1:7001"));
        m_defaults->writeRaw({{"quillvane.backend_url", "http://127.0.0.1:7000"}});
        AppSettings settings(m_defaults->store());
        QCOMPARE(settings.backendBaseURL(), QUrl("http://127.0.0.1:7001"));
        QCOMPARE(m_defaults->fileContents().value("quillvane.backend_url"),
                 QJsonValue("http://127.0.0.1:7000"));
        settings.resetToDefaults();
        QCOMPARE(m_defaults->fileContents().value("quillvane.backend_url"),
                 QJsonValue("http://127.0.0.1:7001"));

        m_environment->set("QUILLVANE_BACKEND_URL", QByteArray("http://bad host"));
        settings.resetToDefaults();
        QCOMPARE(settings.backendBaseURL(), QUrl("https://api.quillvane.app"));
    }

    void loadOfEachSetting_data() {
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");

        const auto row = [](const char* tag, QJsonObject stored, const char* property, QVariant expected) {
            QTest::newRow(tag) << stored << QByteArray(property) << expected;
        };
        const auto one = [](const char* key, QJsonValue value) {
            return QJsonObject{{QString("quillvane.") + key, value}};
        };
        const QJsonValue null(QJsonValue::Null);

        // Bool settings: only a stored bool counts.
        row("auto space: bool", one("auto_space_enabled", false), "autoSpaceEnabled", false);
        row("auto space: string", one("auto_space_enabled", "false"), "autoSpaceEnabled", true);
        row("auto space: number", one("auto_space_enabled", 0), "autoSpaceEnabled", true);
        row("auto space: null", one("auto_space_enabled", null), "autoSpaceEnabled", true);
        row("auto space: array", one("auto_space_enabled", QJsonArray{false}), "autoSpaceEnabled", true);
        row("email formatting: bool", one("disable_email_formatting", true), "disableEmailFormatting", true);
        row("email formatting: number", one("disable_email_formatting", 1), "disableEmailFormatting", false);
        row("lowercase: bool", one("force_lowercase_output", true), "forceLowercaseOutput", true);
        row("lowercase: string", one("force_lowercase_output", "yes"), "forceLowercaseOutput", false);
        row("pause media: bool", one("auto_pause_media", false), "autoPauseMedia", false);
        row("pause media: object", one("auto_pause_media", QJsonObject{}), "autoPauseMedia", true);
        row("toggle mode: bool", one("toggle_hotkey_mode", true), "toggleHotkeyMode", true);
        row("toggle mode: number", one("toggle_hotkey_mode", 1), "toggleHotkeyMode", false);
        row("AI Mode enabled: bool", one("smart_edit_hotkey_enabled", false), "smartEditHotkeyEnabled",
            false);
        row("AI Mode enabled: string", one("smart_edit_hotkey_enabled", "false"), "smartEditHotkeyEnabled",
            true);
        row("Typing Mode enabled: bool", one("vdi_hotkey_enabled", true), "vdiHotkeyEnabled", true);
        row("Typing Mode enabled: number", one("vdi_hotkey_enabled", 1), "vdiHotkeyEnabled", false);

        // Strings: any stored text; another kind gives the default.
        row("mouse mode: raw value", one("mouse_shortcut_mode", "vdi"), "mouseShortcutMode", "vdi");
        row("mouse mode: unknown text kept", one("mouse_shortcut_mode", "Middle"), "mouseShortcutMode",
            "Middle");
        row("mouse mode: number", one("mouse_shortcut_mode", 3), "mouseShortcutMode", "dictation");
        row("mouse mode: bool", one("mouse_shortcut_mode", true), "mouseShortcutMode", "dictation");

        // Verbatim style and the legacy flag.
        row("style strict", one("verbatim_mode_style", "strict"), "verbatimModeStyle", "strict");
        row("style assisted beats legacy false",
            QJsonObject{{"quillvane.verbatim_mode_style", "assisted"},
                        {"quillvane.verbatim_mode_enabled", false}},
            "verbatimModeStyle", "assisted");
        row("style 'Strict' with legacy true",
            QJsonObject{{"quillvane.verbatim_mode_style", "Strict"},
                        {"quillvane.verbatim_mode_enabled", true}},
            "verbatimModeStyle", "assisted");
        row("style 'Strict' without legacy", one("verbatim_mode_style", "Strict"), "verbatimModeStyle",
            "off");
        row("style ' strict' is not trimmed", one("verbatim_mode_style", " strict"), "verbatimModeStyle",
            "off");
        row("style of another kind with legacy true",
            QJsonObject{{"quillvane.verbatim_mode_style", 5}, {"quillvane.verbatim_mode_enabled", true}},
            "verbatimModeStyle", "assisted");
        row("legacy true alone", one("verbatim_mode_enabled", true), "verbatimModeStyle", "assisted");
        row("legacy as string", one("verbatim_mode_enabled", "true"), "verbatimModeStyle", "off");

        // Typing delay: a number, then at least 0.001.
        row("delay", one("vdi_typing_delay", 0.05), "vdiTypingDelay", 0.05);
        row("delay whole number", one("vdi_typing_delay", 2), "vdiTypingDelay", 2.0);
        row("delay 0 raised", one("vdi_typing_delay", 0), "vdiTypingDelay", 0.001);
        row("delay negative raised", one("vdi_typing_delay", -1.5), "vdiTypingDelay", 0.001);
        row("delay as string", one("vdi_typing_delay", "0.5"), "vdiTypingDelay", 0.01);
        row("delay as bool", one("vdi_typing_delay", true), "vdiTypingDelay", 0.01);

        // Silence threshold: an integer, clamped to 100...800.
        row("threshold", one("silence_threshold", 300), "silenceThreshold", 300);
        row("threshold 50 clamped", one("silence_threshold", 50), "silenceThreshold", 100);
        row("threshold 5000 clamped", one("silence_threshold", 5000), "silenceThreshold", 800);
        row("threshold huge clamped", one("silence_threshold", 9007199254740992.0), "silenceThreshold", 800);
        row("threshold fraction is not an integer", one("silence_threshold", 300.5), "silenceThreshold", 180);
        row("threshold as string", one("silence_threshold", "300"), "silenceThreshold", 180);
        row("threshold as bool", one("silence_threshold", false), "silenceThreshold", 180);
    }

    void loadOfEachSetting() {
        QFETCH(QJsonObject, stored);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        m_defaults->writeRaw(stored);
        AppSettings settings(m_defaults->store());
        const QVariant actual = settings.property(property.constData());
        QVariant converted = expected;
        QVERIFY(converted.convert(actual.metaType()));
        QCOMPARE(actual, converted);
        QCOMPARE(m_defaults->fileContents(), stored); // nothing written back
    }

    void loadOfTheMicrophone() {
        m_defaults->writeRaw({{"quillvane.selected_input_device_uid", "alsa_input.usb-mic"}});
        QCOMPARE(AppSettings(m_defaults->store()).selectedInputDeviceUID(),
                 std::optional<QString>("alsa_input.usb-mic"));
        m_defaults->writeRaw({{"quillvane.selected_input_device_uid", 42}});
        QCOMPARE(AppSettings(m_defaults->store()).selectedInputDeviceUID(), std::nullopt);
        m_defaults->writeRaw({{"quillvane.selected_input_device_uid", ""}});
        QCOMPARE(AppSettings(m_defaults->store()).selectedInputDeviceUID(), std::optional<QString>(""));
    }

    void loadOfTheShortcuts_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<HotkeyDefinition>("expected");
        QTest::addColumn<bool>("writtenBack");

        const HotkeyDefinition defaultDictation{1, 0, 0, true, true};
        QTest::newRow("Control+Option+Space as dictation")
            << "quillvane.hotkey" << QJsonValue(hotkeyText(hotkeyJson(1, 49, 0x1800, false, false)))
            << HotkeyDefinition{1, 49, 0x1800, false, false} << false;
        QTest::newRow("Fn key with Fn becomes Fn alone")
            << "quillvane.hotkey" << QJsonValue(hotkeyText(hotkeyJson(1, 63, 0x100, true, false)))
            << HotkeyDefinition{1, 0, 0x100, true, true} << true;
        QTest::newRow("key 0 with Fn becomes modifier-only")
            << "quillvane.smart_edit_hotkey" << QJsonValue(hotkeyText(hotkeyJson(2, 0, 0x1000, true, false)))
            << HotkeyDefinition{2, 0, 0x1000, true, true} << true;
        QTest::newRow("Command+A stays a combination")
            << "quillvane.vdi_hotkey" << QJsonValue(hotkeyText(hotkeyJson(3, 0, 0x100, false, false)))
            << HotkeyDefinition{3, 0, 0x100, false, false} << false;
        QTest::newRow("Fn key without Fn stays")
            << "quillvane.vdi_hotkey" << QJsonValue(hotkeyText(hotkeyJson(3, 63, 0x100, false, false)))
            << HotkeyDefinition{3, 63, 0x100, false, false} << false;
        QTest::newRow("id and modifiers kept as stored")
            << "quillvane.hotkey" << QJsonValue(hotkeyText(hotkeyJson(9, 63, 0xFFFF, true, false)))
            << HotkeyDefinition{9, 0, 0xFFFF, true, true} << true;
        QTest::newRow("without the flags")
            << "quillvane.hotkey" << QJsonValue(R"({"id":1,"keyCode":40,"carbonModifiers":256})")
            << HotkeyDefinition{1, 40, 256, false, false} << false;
        QTest::newRow("not JSON") << "quillvane.hotkey" << QJsonValue("{garbage") << defaultDictation
                                  << false;
        QTest::newRow("missing carbonModifiers")
            << "quillvane.hotkey" << QJsonValue(R"({"id":1,"keyCode":40})") << defaultDictation << false;
        QTest::newRow("stored as a number")
            << "quillvane.hotkey" << QJsonValue(7) << defaultDictation << false;
        QTest::newRow("stored as an object")
            << "quillvane.hotkey" << QJsonValue(hotkeyJson(1, 49, 0, false, false)) << defaultDictation
            << false;
        QTest::newRow("Typing Mode default when unreadable")
            << "quillvane.vdi_hotkey" << QJsonValue("[]") << HotkeyDefinition{3, 49, 6144, false, false}
            << false;
    }

    void loadOfTheShortcuts() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(HotkeyDefinition, expected);
        QFETCH(bool, writtenBack);
        m_defaults->writeRaw({{key, stored}});
        bool fired = false;
        AppSettings settings(m_defaults->store());
        settings.onHotkeysChanged = [&] { fired = true; };
        const HotkeyDefinition loaded = key == "quillvane.hotkey"              ? settings.hotkey()
                                        : key == "quillvane.smart_edit_hotkey" ? settings.smartEditHotkey()
                                                                               : settings.vdiHotkey();
        QCOMPARE(loaded, expected);
        const QJsonValue now = m_defaults->fileContents().value(key);
        if (writtenBack) {
            QVERIFY(now.isString());
            QCOMPARE(HotkeyDefinition::fromJsonText(now.toString().toUtf8()), std::optional(expected));
            QVERIFY(!now.toString().contains(' '));
        } else {
            QCOMPARE(now, stored);
        }
        QCOMPARE(m_defaults->fileContents().size(), 1);
        QVERIFY(!fired);
    }

    void settersPublishWriteThenCallBack_data() {
        QTest::addColumn<SettingsAction>("set");
        QTest::addColumn<QString>("key");
        QTest::addColumn<StoreCheck>("written");
        QTest::addColumn<QStringList>("expected");

        const auto holds = [](const char* key, QVariant value) -> StoreCheck {
            return
                [key = QString(key), value](const UserDefaults& store) { return store.value(key) == value; };
        };
        const auto holdsHotkey = [](const char* key, HotkeyDefinition hotkey) -> StoreCheck {
            return [key = QString(key), hotkey](const UserDefaults& store) {
                const auto data = store.dataValue(key);
                return data && HotkeyDefinition::fromJsonText(*data) == hotkey;
            };
        };
        const auto row = [](const char* tag, SettingsAction set, const char* key, StoreCheck written,
                            QStringList expected) {
            QTest::newRow(tag) << set << QString(key) << written << expected;
        };
        const QString W = " (written)";
        const QString U = " (unwritten)";

        row("backendBaseURL", [](AppSettings& s) { s.setBackendBaseURL(QUrl("http://127.0.0.1:7010/")); },
            "quillvane.backend_url", holds("quillvane.backend_url", QString("http://127.0.0.1:7010/")),
            {"publish backendBaseURL" + U, "onBackendURLChanged http://127.0.0.1:7010/" + W, "onChange" + W});
        row("autoSpaceEnabled", [](AppSettings& s) { s.setAutoSpaceEnabled(false); },
            "quillvane.auto_space_enabled", holds("quillvane.auto_space_enabled", false),
            {"publish autoSpaceEnabled" + U, "onChange" + W});
        row("verbatimModeStyle (not validated)", [](AppSettings& s) { s.setVerbatimModeStyle("Loud"); },
            "quillvane.verbatim_mode_style", holds("quillvane.verbatim_mode_style", QString("Loud")),
            {"publish verbatimModeStyle" + U, "onChange" + W});
        row("disableEmailFormatting", [](AppSettings& s) { s.setDisableEmailFormatting(true); },
            "quillvane.disable_email_formatting", holds("quillvane.disable_email_formatting", true),
            {"publish disableEmailFormatting" + U, "onChange" + W});
        row("forceLowercaseOutput", [](AppSettings& s) { s.setForceLowercaseOutput(true); },
            "quillvane.force_lowercase_output", holds("quillvane.force_lowercase_output", true),
            {"publish forceLowercaseOutput" + U, "onChange" + W});
        row("autoPauseMedia", [](AppSettings& s) { s.setAutoPauseMedia(false); },
            "quillvane.auto_pause_media", holds("quillvane.auto_pause_media", false),
            {"publish autoPauseMedia" + U, "onChange" + W});
        row("mouseShortcutMode", [](AppSettings& s) { s.setMouseShortcutMode("vdi"); },
            "quillvane.mouse_shortcut_mode", holds("quillvane.mouse_shortcut_mode", QString("vdi")),
            {"publish mouseShortcutMode" + U, "onChange" + W, "onMouseShortcutModeChanged vdi" + W});
        row("mouseShortcutMode, same value", [](AppSettings& s) { s.setMouseShortcutMode("dictation"); },
            "quillvane.mouse_shortcut_mode", holds("quillvane.mouse_shortcut_mode", QString("dictation")),
            {"publish mouseShortcutMode" + U, "onChange" + W, "onMouseShortcutModeChanged dictation" + W});
        row("toggleHotkeyMode", [](AppSettings& s) { s.setToggleHotkeyMode(true); },
            "quillvane.toggle_hotkey_mode", holds("quillvane.toggle_hotkey_mode", true),
            {"publish toggleHotkeyMode" + U, "onChange" + W});
        row("vdiTypingDelay below the load floor", [](AppSettings& s) { s.setVdiTypingDelay(0.0001); },
            "quillvane.vdi_typing_delay", holds("quillvane.vdi_typing_delay", 0.0001),
            {"publish vdiTypingDelay" + U, "onChange" + W});
        row("silenceThreshold outside the load range", [](AppSettings& s) { s.setSilenceThreshold(50); },
            "quillvane.silence_threshold", holds("quillvane.silence_threshold", qlonglong(50)),
            {"publish silenceThreshold" + U, "onChange" + W});
        row("selectedInputDeviceUID", [](AppSettings& s) { s.setSelectedInputDeviceUID(QString("mic-1")); },
            "quillvane.selected_input_device_uid",
            holds("quillvane.selected_input_device_uid", QString("mic-1")),
            {"publish selectedInputDeviceUID" + U, "onChange" + W});
        row(
            "selectedInputDeviceUID none removes the key",
            [](AppSettings& s) { s.setSelectedInputDeviceUID(std::nullopt); },
            "quillvane.selected_input_device_uid",
            [](const UserDefaults& store) { return !store.contains("quillvane.selected_input_device_uid"); },
            {"publish selectedInputDeviceUID" + U, "onChange" + W});
        row("smartEditHotkeyEnabled", [](AppSettings& s) { s.setSmartEditHotkeyEnabled(false); },
            "quillvane.smart_edit_hotkey_enabled", holds("quillvane.smart_edit_hotkey_enabled", false),
            {"publish smartEditHotkeyEnabled" + U, "onChange" + W, "onHotkeysChanged" + W});
        row("vdiHotkeyEnabled", [](AppSettings& s) { s.setVdiHotkeyEnabled(true); },
            "quillvane.vdi_hotkey_enabled", holds("quillvane.vdi_hotkey_enabled", true),
            {"publish vdiHotkeyEnabled" + U, "onChange" + W, "onHotkeysChanged" + W});
        row("hotkey",
            [](AppSettings& s) {
                s.setHotkey({1, 40, 0x100, false, false});
            },
            "quillvane.hotkey", holdsHotkey("quillvane.hotkey", {1, 40, 0x100, false, false}),
            {"publish hotkey" + U, "onHotkeysChanged" + W});
        row("smartEditHotkey stored normalised",
            [](AppSettings& s) {
                s.setSmartEditHotkey({2, 63, 0, true, false});
            },
            "quillvane.smart_edit_hotkey", holdsHotkey("quillvane.smart_edit_hotkey", {2, 0, 0, true, true}),
            {"publish smartEditHotkey" + U, "onHotkeysChanged" + W});
        row("vdiHotkey",
            [](AppSettings& s) {
                s.setVdiHotkey({3, 97, 0, false, false});
            },
            "quillvane.vdi_hotkey", holdsHotkey("quillvane.vdi_hotkey", {3, 97, 0, false, false}),
            {"publish vdiHotkey" + U, "onHotkeysChanged" + W});
    }

    // Each set publishes, writes the store, then calls back; a second set of the same value does it all
    // again (the key is taken out of the store in between to see the second write).
    void settersPublishWriteThenCallBack() {
        QFETCH(SettingsAction, set);
        QFETCH(QString, key);
        QFETCH(StoreCheck, written);
        QFETCH(QStringList, expected);
        UserDefaults& store = m_defaults->store();
        AppSettings settings(store);
        Recorder recorder;
        recorder.written = written;
        recorder.attach(settings, store);

        for (int round = 0; round < 2; ++round) {
            if (written(store)) { // the removal case: give the key something to remove
                store.setString(key, "placeholder");
            } else {
                store.remove(key);
            }
            QVERIFY(!written(store));
            recorder.events.clear();
            set(settings);
            QCOMPARE(recorder.events, expected);
            QVERIFY(written(store));
        }
    }

    void shortcutIsPublishedAsAssigned() {
        AppSettings settings(m_defaults->store());
        settings.setHotkey({1, 63, 0x100, true, false});
        QCOMPARE(settings.hotkey(), (HotkeyDefinition{1, 63, 0x100, true, false}));
        QCOMPARE(AppSettings(m_defaults->store()).hotkey(), (HotkeyDefinition{1, 0, 0x100, true, true}));
    }

    void settingsSurviveARestart() {
        {
            AppSettings settings(m_defaults->store());
            settings.setBackendBaseURL(QUrl("http://127.0.0.1:7010"));
            settings.setVerbatimModeStyle("strict");
            settings.setVdiTypingDelay(0.02);
            settings.setSilenceThreshold(640);
            settings.setSelectedInputDeviceUID(QString("mic-2"));
            settings.setVdiHotkey({3, 96, 0x1100, false, false});
            settings.setAutoPauseMedia(false);
        }
        TestDefaults& defaults = *m_defaults;
        defaults.writeRaw(defaults.fileContents()); // reopen from the file
        AppSettings reloaded(defaults.store());
        QCOMPARE(reloaded.backendBaseURL(), QUrl("http://127.0.0.1:7010"));
        QCOMPARE(reloaded.verbatimModeStyle(), QString("strict"));
        QCOMPARE(reloaded.vdiTypingDelay(), 0.02);
        QCOMPARE(reloaded.silenceThreshold(), 640);
        QCOMPARE(reloaded.selectedInputDeviceUID(), std::optional<QString>("mic-2"));
        QCOMPARE(reloaded.vdiHotkey(), (HotkeyDefinition{3, 96, 0x1100, false, false}));
        QCOMPARE(reloaded.autoPauseMedia(), false);
    }

    void resetFiresEveryCallbackAndLogsOnce() {
        m_defaults->writeRaw({{"quillvane.verbatim_mode_enabled", true},
                              {"quillvane.selected_input_device_uid", "mic-1"},
                              {"quillvane.silence_threshold", 700},
                              {"quillvane.hotkey", hotkeyText(hotkeyJson(1, 49, 0x100, false, false))}});
        AppSettings settings(m_defaults->store());
        QMap<QString, int> counts;
        settings.onChange = [&] { ++counts["onChange"]; };
        settings.onHotkeysChanged = [&] { ++counts["onHotkeysChanged"]; };
        settings.onBackendURLChanged = [&](const QUrl&) { ++counts["onBackendURLChanged"]; };
        settings.onMouseShortcutModeChanged = [&](const QString&) { ++counts["onMouseShortcutModeChanged"]; };
        RuntimeLogCapture log;

        settings.resetToDefaults();

        QCOMPARE(counts, (QMap<QString, int>{{"onChange", 13},
                                             {"onHotkeysChanged", 5},
                                             {"onBackendURLChanged", 1},
                                             {"onMouseShortcutModeChanged", 1}}));
        QCOMPARE(log.lines().filter("Reset app settings to defaults").size(), 1);
        QCOMPARE(settings.silenceThreshold(), 180);
        QCOMPARE(settings.hotkey(), (HotkeyDefinition{1, 0, 0, true, true}));
        const QJsonObject file = m_defaults->fileContents();
        QVERIFY(!file.contains("quillvane.selected_input_device_uid"));
        QCOMPARE(file.value("quillvane.verbatim_mode_enabled"), QJsonValue(true)); // legacy key untouched
        QCOMPARE(file.value("quillvane.verbatim_mode_style"), QJsonValue("off"));
        QCOMPARE(file.value("quillvane.backend_url"), QJsonValue("https://api.quillvane.app"));
    }

    // The defaults are one table: a reset gives exactly what a first launch loads, in the object, in
    // the store and in the cloud payload. Values and keys this client does not know are kept.
    void resetGivesWhatAFirstLaunchLoadsAndKeepsUnknownKeys() {
        m_defaults->writeRaw(
            {{"quillvane.backend_url", "http://127.0.0.1:7000"},
             {"quillvane.auto_space_enabled", false},
             {"quillvane.verbatim_mode_style", "strict"},
             {"quillvane.disable_email_formatting", true},
             {"quillvane.force_lowercase_output", true},
             {"quillvane.auto_pause_media", false},
             {"quillvane.mouse_shortcut_mode", "pedal"},
             {"quillvane.toggle_hotkey_mode", true},
             {"quillvane.vdi_typing_delay", 0.5},
             {"quillvane.silence_threshold", 640},
             {"quillvane.selected_input_device_uid", "mic-1"},
             {"quillvane.smart_edit_hotkey_enabled", false},
             {"quillvane.vdi_hotkey_enabled", true},
             {"quillvane.hotkey", hotkeyText(hotkeyJson(1, 40, 0x100, false, false))},
             {"quillvane.smart_edit_hotkey", hotkeyText(hotkeyJson(2, 41, 0x100, false, false))},
             {"quillvane.vdi_hotkey", hotkeyText(hotkeyJson(3, 42, 0x100, false, false))},
             {"quillvane.future_setting", "from a newer client"}});
        AppSettings settings(m_defaults->store());
        TestDefaults empty;
        AppSettings firstLaunch(empty.store());
        const QVariantMap defaults = publishedValues(firstLaunch);
        for (auto it = defaults.begin(); it != defaults.end(); ++it) {
            QVERIFY2(publishedValues(settings).value(it.key()) != it.value(), qPrintable(it.key()));
        }
        QCOMPARE(settings.mouseShortcutMode(), QString("pedal")); // unknown mode from the file kept
        QVERIFY(
            settings.applyRemoteSettings({{"mouse_shortcut_mode", str("pedal-2")}, {"future", flag(true)}}));
        QCOMPARE(settings.mouseShortcutMode(), QString("pedal-2")); // and from the cloud

        settings.resetToDefaults();

        QCOMPARE(publishedValues(settings), defaults);
        QCOMPARE(JSONValue::object(settings.cloudSettingsPayload()).toJson(),
                 JSONValue::object(firstLaunch.cloudSettingsPayload()).toJson());
        m_defaults->writeRaw(m_defaults->fileContents()); // reopen what the reset wrote
        QCOMPARE(publishedValues(AppSettings(m_defaults->store())), defaults);
        QCOMPARE(m_defaults->fileContents().value("quillvane.future_setting"),
                 QJsonValue("from a newer client"));
    }

    void applyRemoteSettings_data() {
        QTest::addColumn<SettingsAction>("prepare");
        QTest::addColumn<JSONValue::Object>("remote");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QVariantMap>("expectedValues"); // properties that change, with their new value
        QTest::addColumn<QStringList>("expectedEvents");

        const SettingsAction nothing = [](AppSettings&) {};
        const auto row = [](const char* tag, SettingsAction prepare, JSONValue::Object remote, bool changed,
                            QVariantMap values, QStringList events) {
            QTest::newRow(tag) << prepare << remote << changed << values << events;
        };
        const auto changes = [](const char* property) {
            return QStringList{QString("publish ") + property, "onChange"};
        };

        row("empty map", nothing, {}, false, {}, {});
        row("bool for a bool", nothing, {{"auto_space_enabled", flag(false)}}, true,
            {{"autoSpaceEnabled", false}}, changes("autoSpaceEnabled"));
        row("string 'false' for a bool", nothing, {{"auto_space_enabled", str("false")}}, false, {}, {});
        row("number 0 for a bool", nothing, {{"auto_space_enabled", num(0)}}, false, {}, {});
        row("null for a bool", nothing, {{"auto_space_enabled", JSONValue::null()}}, false, {}, {});
        row("object for a bool", nothing, {{"toggle_hotkey_mode", JSONValue::object({{"v", flag(true)}})}},
            false, {}, {});
        row("equal values", nothing,
            {{"auto_space_enabled", flag(true)},
             {"auto_pause_media", flag(true)},
             {"mouse_shortcut_mode", str("dictation")},
             {"silence_threshold", num(180)},
             {"vdi_typing_delay", num(0.01)}},
            false, {}, {});
        row("threshold 99.5 rounds and clamps to 100", nothing, {{"silence_threshold", num(99.5)}}, true,
            {{"silenceThreshold", 100}}, changes("silenceThreshold"));
        row("threshold 450.5 rounds half up", nothing, {{"silence_threshold", num(450.5)}}, true,
            {{"silenceThreshold", 451}}, changes("silenceThreshold"));
        row("threshold 2000 clamps", nothing, {{"silence_threshold", num(2000)}}, true,
            {{"silenceThreshold", 800}}, changes("silenceThreshold"));
        row("threshold beyond the integer range clamps", nothing, {{"silence_threshold", num(-1e300)}}, true,
            {{"silenceThreshold", 100}}, changes("silenceThreshold"));
        row("threshold 180.4 rounds to the current value", nothing, {{"silence_threshold", num(180.4)}},
            false, {}, {});
        row(
            "threshold clamped after the user set 900", [](AppSettings& s) { s.setSilenceThreshold(900); },
            {{"silence_threshold", num(5000)}}, true, {{"silenceThreshold", 800}},
            changes("silenceThreshold"));
        row("threshold as string", nothing, {{"silence_threshold", str("300")}}, false, {}, {});
        row("delay 0 floored", nothing, {{"vdi_typing_delay", num(0)}}, true, {{"vdiTypingDelay", 0.001}},
            changes("vdiTypingDelay"));
        row("delay 0.05", nothing, {{"vdi_typing_delay", num(0.05)}}, true, {{"vdiTypingDelay", 0.05}},
            changes("vdiTypingDelay"));
        row("delay as bool", nothing, {{"vdi_typing_delay", flag(true)}}, false, {}, {});
        row(
            "legacy flag only, style strict", [](AppSettings& s) { s.setVerbatimModeStyle("strict"); },
            {{"verbatim_mode_enabled", flag(true)}}, true, {{"verbatimModeStyle", "assisted"}},
            changes("verbatimModeStyle"));
        row("legacy false, style off", nothing, {{"verbatim_mode_enabled", flag(false)}}, false, {}, {});
        row("invalid style blocks the legacy flag", nothing,
            {{"verbatim_mode_style", str("loud")}, {"verbatim_mode_enabled", flag(true)}}, false, {}, {});
        row("null style blocks the legacy flag", nothing,
            {{"verbatim_mode_style", JSONValue::null()}, {"verbatim_mode_enabled", flag(true)}}, false, {},
            {});
        row("valid style beats the legacy flag", nothing,
            {{"verbatim_mode_style", str("strict")}, {"verbatim_mode_enabled", flag(false)}}, true,
            {{"verbatimModeStyle", "strict"}}, changes("verbatimModeStyle"));
        row("style is case-sensitive", nothing, {{"verbatim_mode_style", str("Strict")}}, false, {}, {});
        row("mouse mode, any text", nothing, {{"mouse_shortcut_mode", str("Middle")}}, true,
            {{"mouseShortcutMode", "Middle"}},
            changes("mouseShortcutMode") << "onMouseShortcutModeChanged Middle");
        row("mouse mode as number", nothing, {{"mouse_shortcut_mode", num(1)}}, false, {}, {});
        row("keys never applied from the cloud", nothing,
            {{"backend_url", str("http://127.0.0.1:9")},
             {"selected_input_device_uid", str("mic")},
             {"hotkey", JSONValue::object({{"id", num(1)}})},
             {"custom_prompt", str("Prompt keys belong to the prompt store")}},
            false, {}, {});
        row("every key, in table order", nothing,
            {{"vdi_typing_delay", num(0.2)},
             {"silence_threshold", num(300)},
             {"auto_space_enabled", flag(false)},
             {"verbatim_mode_style", str("assisted")},
             {"disable_email_formatting", flag(true)},
             {"force_lowercase_output", flag(true)},
             {"auto_pause_media", flag(false)},
             {"mouse_shortcut_mode", str("off")},
             {"toggle_hotkey_mode", flag(true)},
             {"smart_edit_hotkey_enabled", flag(false)},
             {"vdi_hotkey_enabled", flag(true)}},
            true,
            {{"vdiTypingDelay", 0.2},
             {"silenceThreshold", 300},
             {"autoSpaceEnabled", false},
             {"verbatimModeStyle", "assisted"},
             {"disableEmailFormatting", true},
             {"forceLowercaseOutput", true},
             {"autoPauseMedia", false},
             {"mouseShortcutMode", "off"},
             {"toggleHotkeyMode", true},
             {"smartEditHotkeyEnabled", false},
             {"vdiHotkeyEnabled", true}},
            changes("autoSpaceEnabled") + changes("verbatimModeStyle") + changes("disableEmailFormatting") +
                changes("forceLowercaseOutput") + changes("autoPauseMedia") + changes("mouseShortcutMode") +
                QStringList{"onMouseShortcutModeChanged off"} + changes("toggleHotkeyMode") +
                changes("smartEditHotkeyEnabled") + QStringList{"onHotkeysChanged"} +
                changes("vdiHotkeyEnabled") + QStringList{"onHotkeysChanged"} + changes("vdiTypingDelay") +
                changes("silenceThreshold"));
    }

    void applyRemoteSettings() {
        QFETCH(SettingsAction, prepare);
        QFETCH(JSONValue::Object, remote);
        QFETCH(bool, changed);
        QFETCH(QVariantMap, expectedValues);
        QFETCH(QStringList, expectedEvents);
        AppSettings settings(m_defaults->store());
        prepare(settings);
        const QVariantMap before = publishedValues(settings);
        Recorder recorder;
        recorder.attach(settings, m_defaults->store());
        RuntimeLogCapture log;

        QCOMPARE(settings.applyRemoteSettings(remote), changed);

        QCOMPARE(recorder.events, expectedEvents);
        QVariantMap expected = before;
        for (auto it = expectedValues.begin(); it != expectedValues.end(); ++it) {
            QVariant value = it.value();
            QVERIFY(value.convert(before.value(it.key()).metaType()));
            expected.insert(it.key(), value);
        }
        const QVariantMap after = publishedValues(settings);
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
        }
        QCOMPARE(log.lines().filter("Applied remote app settings").size(), changed ? 1 : 0);
        QCOMPARE(log.lines().size(), changed ? 1 : 0);
        // What was applied reaches the store like any other set.
        if (changed) {
            AppSettings reloaded(m_defaults->store());
            const QVariantMap reloadedValues = publishedValues(reloaded);
            for (auto it = expectedValues.begin(); it != expectedValues.end(); ++it) {
                QVERIFY2(reloadedValues.value(it.key()) == after.value(it.key()), qPrintable(it.key()));
            }
        }
    }

    void nonFiniteCloudNumbersAreSkipped() {
        AppSettings settings(m_defaults->store());
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QVERIFY(
            !settings.applyRemoteSettings({{"silence_threshold", num(inf)}, {"vdi_typing_delay", num(nan)}}));
        QCOMPARE(settings.silenceThreshold(), 180);
        QCOMPARE(settings.vdiTypingDelay(), 0.01);
    }

    void cloudPayloadSendsCurrentValues() {
        AppSettings settings(m_defaults->store());
        JSONValue::Object payload = settings.cloudSettingsPayload();
        const QStringList expectedKeys{
            "auto_pause_media",          "auto_space_enabled",    "disable_email_formatting",
            "force_lowercase_output",    "mouse_shortcut_mode",   "silence_threshold",
            "smart_edit_hotkey_enabled", "toggle_hotkey_mode",    "vdi_hotkey_enabled",
            "vdi_typing_delay",          "verbatim_mode_enabled", "verbatim_mode_style"};
        QStringList keys;
        for (const auto& [key, value] : payload) {
            keys << key;
        }
        QCOMPARE(keys, expectedKeys);
        const auto kind = [&](const char* key) { return payload.at(key).kind(); };
        QCOMPARE(kind("auto_space_enabled"), JSONValue::Kind::Bool);
        QCOMPARE(kind("verbatim_mode_enabled"), JSONValue::Kind::Bool);
        QCOMPARE(kind("verbatim_mode_style"), JSONValue::Kind::String);
        QCOMPARE(kind("mouse_shortcut_mode"), JSONValue::Kind::String);
        QCOMPARE(kind("vdi_typing_delay"), JSONValue::Kind::Number);
        QCOMPARE(kind("silence_threshold"), JSONValue::Kind::Number);
        QCOMPARE(payload.at("verbatim_mode_enabled").boolValue(), false);
        QCOMPARE(payload.at("verbatim_mode_style").stringValue(), QString("off"));
        QCOMPARE(payload.at("auto_pause_media").boolValue(), true);
        QCOMPARE(payload.at("silence_threshold").numberValue(), 180.0);
        QCOMPARE(payload.at("vdi_typing_delay").numberValue(), 0.01);

        settings.setVerbatimModeStyle("strict");
        settings.setSilenceThreshold(50);
        settings.setVdiTypingDelay(0.0001);
        settings.setMouseShortcutMode("ai_refinement");
        payload = settings.cloudSettingsPayload();
        QCOMPARE(payload.at("verbatim_mode_enabled").boolValue(), true);
        QCOMPARE(payload.at("verbatim_mode_style").stringValue(), QString("strict"));
        QCOMPARE(payload.at("silence_threshold").numberValue(), 50.0); // sent as set, not clamped
        QCOMPARE(payload.at("vdi_typing_delay").numberValue(), 0.0001);
        QCOMPARE(payload.at("mouse_shortcut_mode").stringValue(), QString("ai_refinement"));

        settings.setVerbatimModeStyle("unknown");
        QCOMPARE(settings.cloudSettingsPayload().at("verbatim_mode_enabled").boolValue(), true);
    }

    void cloudPayloadRoundTripsThroughAnotherStore() {
        AppSettings source(m_defaults->store());
        source.setVerbatimModeStyle("assisted");
        source.setSilenceThreshold(420);
        source.setVdiTypingDelay(0.03);
        source.setMouseShortcutMode("off");
        source.setToggleHotkeyMode(true);
        source.setVdiHotkeyEnabled(true);
        TestDefaults otherDefaults;
        AppSettings target(otherDefaults.store());
        QVERIFY(target.applyRemoteSettings(source.cloudSettingsPayload()));
        QVERIFY(!target.applyRemoteSettings(source.cloudSettingsPayload()));
        QCOMPARE(JSONValue::object(target.cloudSettingsPayload()).toJson(),
                 JSONValue::object(source.cloudSettingsPayload()).toJson());
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
