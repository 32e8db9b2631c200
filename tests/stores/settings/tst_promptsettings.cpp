#include "PromptSettingsStore.h"
#include "SettingsTestSupport.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

Q_DECLARE_METATYPE(JSONValue::Object)

namespace {

JSONValue str(const char* text) {
    return JSONValue::string(QString::fromUtf8(text));
}

QJsonObject document(const char* model, const char* languageMode = "english_only") {
    return QJsonObject{{"workDomainSelection", "legal"},
                       {"workDomainCustom", "patents"},
                       {"customPrompt", "Keep it short."},
                       {"transcriptionLanguageMode", languageMode},
                       {"transcriptionModel", model}};
}

QString text(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

class TestPromptSettings : public QObject {
    Q_OBJECT

    ScopedEnvironment m_environment;
    QTemporaryDir m_runtime;
    std::unique_ptr<TestDefaults> m_defaults;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_runtime.isValid());
        m_environment.set("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }

    void init() { m_defaults = std::make_unique<TestDefaults>(); }
    void cleanup() { m_defaults.reset(); }

    void normalizePublicModelChoice_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("expected");
        const QList<std::pair<const char*, const char*>> rows{
            {"tidewell", "tidewell"},
            {"nova-3", "tidewell"},
            {"NOVA-3-Medical", "tidewell"},
            {"medium", "tidewell"},
            {" \tBalanced\n", "tidewell"},
            {"zephyrix", "zephyrix"},
            {"WHISPER-LARGE-V3-TURBO", "zephyrix"},
            {"Fast", "zephyrix"},
            {"Keystoner Deck", "keystoner"},
            {"keystoner", "keystoner"},
            {"gpt-4o-transcribe", "keystoner"},
            {"large", "keystoner"},
            {"PREMIUM", "keystoner"},
            {"pro", "keystoner"},
            {"whisper-large-v3", "whisper-large-v3"},
            {" Custom-Model ", "Custom-Model"},
            {"keystoner  deck", "keystoner  deck"},
            {"", ""},
            {"   ", ""},
        };
        for (const auto& [choice, expected] : rows) {
            QTest::newRow(qPrintable(QString("'%1'").arg(choice))) << QString(choice) << QString(expected);
        }
    }

    void normalizePublicModelChoice() {
        QFETCH(QString, choice);
        QFETCH(QString, expected);
        QCOMPARE(PromptSettingsStore::normalizePublicModelChoice(choice), expected);
    }

    void emptyStoreGivesTheDefaultsAndWritesNothing() {
        PromptSettingsStore store(m_defaults->store());
        const PromptSettings settings = store.settings();
        QCOMPARE(settings.workDomainSelection, QString("general"));
        QCOMPARE(settings.workDomainCustom, QString(""));
        QCOMPARE(
            settings.customPrompt,
            QString(
                "Fix grammatical errors and stuttering. If I correct myself (e.g., 'at 10, actually 11'), "
                "output only the final meaning. Use professional formatting."));
        QCOMPARE(settings.customPrompt.size(), 148);
        QCOMPARE(settings.transcriptionLanguageMode, QString("auto_detect"));
        QCOMPARE(settings.transcriptionModel, QString("tidewell"));
        QVERIFY(!m_defaults->fileExists());
    }

    void load_data() {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QString>("expectedModel");

        QTest::newRow("whole document") << QJsonValue(text(document("zephyrix"))) << true << "zephyrix";
        QTest::newRow("alias ' Balanced ' normalised")
            << QJsonValue(text(document(" Balanced "))) << true << "tidewell";
        QTest::newRow("alias PREMIUM normalised")
            << QJsonValue(text(document("PREMIUM"))) << true << "keystoner";
        QTest::newRow("unlisted name trimmed, case kept")
            << QJsonValue(text(document("Whisper-X "))) << true << "Whisper-X";
        QJsonObject extra = document("fast");
        extra.insert("transcriptionTier", 1);
        QTest::newRow("extra keys ignored") << QJsonValue(text(extra)) << true << "zephyrix";
        for (const char* key : {"workDomainSelection", "workDomainCustom", "customPrompt",
                                "transcriptionLanguageMode", "transcriptionModel"}) {
            QJsonObject missing = document("fast");
            missing.remove(key);
            QTest::newRow(qPrintable(QString("without %1").arg(key)))
                << QJsonValue(text(missing)) << false << "";
            QJsonObject wrongKind = document("fast");
            wrongKind.insert(key, 7);
            QTest::newRow(qPrintable(QString("%1 as number").arg(key)))
                << QJsonValue(text(wrongKind)) << false << "";
            QJsonObject null = document("fast");
            null.insert(key, QJsonValue::Null);
            QTest::newRow(qPrintable(QString("%1 null").arg(key))) << QJsonValue(text(null)) << false << "";
        }
        QTest::newRow("array") << QJsonValue("[]") << false << "";
        QTest::newRow("not JSON") << QJsonValue("{\"workDomainSelection\":") << false << "";
        QTest::newRow("stored as a number") << QJsonValue(5) << false << "";
        QTest::newRow("stored as an object, not JSON text") << QJsonValue(document("fast")) << false << "";
    }

    void load() {
        QFETCH(QJsonValue, stored);
        QFETCH(bool, readable);
        QFETCH(QString, expectedModel);
        const QJsonObject raw{{"quillvane.prompt_settings", stored}};
        m_defaults->writeRaw(raw);
        PromptSettingsStore store(m_defaults->store());
        if (readable) {
            PromptSettings expected;
            expected.workDomainSelection = "legal";
            expected.workDomainCustom = "patents";
            expected.customPrompt = "Keep it short.";
            expected.transcriptionLanguageMode = "english_only";
            expected.transcriptionModel = expectedModel;
            QCOMPARE(store.settings(), expected);
        } else {
            QCOMPARE(store.settings(), PromptSettings{}); // no field taken from a partial document
        }
        QCOMPARE(m_defaults->fileContents(), raw); // the stored text stays until the next save
    }

    void setPublishesSavesThenCallsBack() {
        PromptSettingsStore store(m_defaults->store());
        QStringList events;
        const auto saved = [&] {
            const auto data = m_defaults->store().dataValue("quillvane.prompt_settings");
            return data ? PromptSettings::fromJsonText(*data) : std::nullopt;
        };
        PromptSettings changed;
        changed.customPrompt = "Be brief.";
        changed.transcriptionModel = "fast"; // a user set is not normalised
        connect(&store, &PromptSettingsStore::settingsChanged, this, [&](const PromptSettings& value) {
            events << QString("publish %1 saved=%2").arg(value.customPrompt).arg(saved() == changed);
        });
        store.onChange = [&] { events << QString("onChange saved=%1").arg(saved() == changed); };

        store.setSettings(changed);
        QCOMPARE(events, (QStringList{"publish Be brief. saved=0", "onChange saved=1"}));
        QCOMPARE(store.settings(), changed);

        // The same value again still saves and calls back.
        m_defaults->store().remove("quillvane.prompt_settings");
        events.clear();
        store.setSettings(changed);
        QCOMPARE(events, (QStringList{"publish Be brief. saved=0", "onChange saved=1"}));

        const QJsonValue storedText = m_defaults->fileContents().value("quillvane.prompt_settings");
        QVERIFY(storedText.isString());
        QVERIFY(!storedText.toString().contains(": ")); // compact
        const QJsonObject storedObject = QJsonDocument::fromJson(storedText.toString().toUtf8()).object();
        QCOMPARE(storedObject.keys(),
                 (QStringList{"customPrompt", "transcriptionLanguageMode", "transcriptionModel",
                              "workDomainCustom", "workDomainSelection"}));
    }

    void resetCallsBackOnceAndLogs() {
        m_defaults->writeRaw({{"quillvane.prompt_settings", text(document("fast"))}});
        PromptSettingsStore store(m_defaults->store());
        int changes = 0;
        store.onChange = [&] { ++changes; };
        RuntimeLogCapture log;
        store.resetToDefaults();
        QCOMPARE(changes, 1);
        QCOMPARE(store.settings(), PromptSettings{});
        QCOMPARE(log.lines(), QStringList{"Reset prompt settings to defaults"});
        QCOMPARE(PromptSettingsStore(m_defaults->store()).settings(), PromptSettings{});
    }

    void applyRemoteSettings_data() {
        QTest::addColumn<JSONValue::Object>("remote");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<PromptSettings>("expected");

        const PromptSettings defaults;
        const auto with = [&](auto change) {
            PromptSettings value = defaults;
            change(value);
            return value;
        };
        QTest::newRow("empty map") << JSONValue::Object{} << false << defaults;
        QTest::newRow("alias 'fast' sets the fastest tier")
            << JSONValue::Object{{"transcription_model", str("fast")}} << true
            << with([](PromptSettings& s) { s.transcriptionModel = "zephyrix"; });
        QTest::newRow("alias of the current tier counts as a change")
            << JSONValue::Object{{"transcription_model", str("balanced")}} << true << defaults;
        QTest::newRow("the current tier id is no change")
            << JSONValue::Object{{"transcription_model", str("tidewell")}} << false << defaults;
        QTest::newRow("custom prompt as number")
            << JSONValue::Object{{"custom_prompt", JSONValue::number(1)}} << false << defaults;
        QTest::newRow("custom prompt null")
            << JSONValue::Object{{"custom_prompt", JSONValue::null()}} << false << defaults;
        QTest::newRow("custom prompt as bool")
            << JSONValue::Object{{"custom_prompt", JSONValue::boolean(true)}} << false << defaults;
        QTest::newRow("equal strings are no change")
            << JSONValue::Object{{"work_domain_selection", str("general")}, {"work_domain_custom", str("")}}
            << false << defaults;
        QTest::newRow("case differs: a change")
            << JSONValue::Object{{"work_domain_selection", str("General")}} << true
            << with([](PromptSettings& s) { s.workDomainSelection = "General"; });
        QTest::newRow("every field, others' keys ignored")
            << JSONValue::Object{{"work_domain_selection", str("medical")},
                                 {"work_domain_custom", str("cardiology")},
                                 {"custom_prompt", str("Use SI units.")},
                                 {"transcription_language_mode", str("english_only")},
                                 {"transcription_model", str(" Keystoner Deck ")},
                                 {"auto_space_enabled", JSONValue::boolean(false)},
                                 {"workDomainSelection", str("stored-form key")}}
            << true << with([](PromptSettings& s) {
                   s.workDomainSelection = "medical";
                   s.workDomainCustom = "cardiology";
                   s.customPrompt = "Use SI units.";
                   s.transcriptionLanguageMode = "english_only";
                   s.transcriptionModel = "keystoner";
               });
    }

    void applyRemoteSettings() {
        QFETCH(JSONValue::Object, remote);
        QFETCH(bool, changed);
        QFETCH(PromptSettings, expected);
        PromptSettingsStore store(m_defaults->store());
        int changes = 0;
        store.onChange = [&] { ++changes; };
        QSignalSpy published(&store, &PromptSettingsStore::settingsChanged);
        RuntimeLogCapture log;

        QCOMPARE(store.applyRemoteSettings(remote), changed);

        QCOMPARE(store.settings(), expected);
        QCOMPARE(changes, 0); // a remote apply never calls back
        QCOMPARE(published.size(), changed ? 1 : 0);
        QCOMPARE(log.lines(), changed ? QStringList{"Applied remote prompt settings"} : QStringList{});
        QCOMPARE(m_defaults->fileExists(), changed); // saved once when changed, untouched otherwise
        if (changed) {
            QCOMPARE(PromptSettingsStore(m_defaults->store()).settings(), expected);
        }

        // The suppression lasts for the apply only: the next user set calls back again.
        store.setSettings(store.settings());
        QCOMPARE(changes, 1);
    }

    void cloudPayloadHoldsTheFiveFieldsAsStrings() {
        PromptSettingsStore store(m_defaults->store());
        JSONValue::Object payload = store.cloudSettingsPayload();
        QCOMPARE(payload.size(), size_t(5));
        for (const auto& [key, value] : payload) {
            QCOMPARE(value.kind(), JSONValue::Kind::String);
        }
        QCOMPARE(payload.at("work_domain_selection").stringValue(), QString("general"));
        QCOMPARE(payload.at("work_domain_custom").stringValue(), QString(""));
        QCOMPARE(payload.at("custom_prompt").stringValue(), PromptSettings::defaultCustomPrompt());
        QCOMPARE(payload.at("transcription_language_mode").stringValue(), QString("auto_detect"));
        QCOMPARE(payload.at("transcription_model").stringValue(), QString("tidewell"));

        PromptSettings changed;
        changed.workDomainCustom = "shipping";
        store.setSettings(changed);
        TestDefaults otherDefaults;
        PromptSettingsStore other(otherDefaults.store());
        QVERIFY(other.applyRemoteSettings(store.cloudSettingsPayload()));
        QCOMPARE(other.settings(), changed);
    }
};

QTEST_GUILESS_MAIN(TestPromptSettings)
#include "tst_promptsettings.moc"
