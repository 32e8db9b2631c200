#include "DashboardRig.h"
#include "SettingsPage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

// Lists two microphones of which one has gone from the server by the time it is picked.
class VanishingInputs final : public AudioInputSystem {
public:
    std::optional<QString> defaultInputId() override { return QStringLiteral("mic"); }
    QList<Input> inputs() override {
        return {{QStringLiteral("mic"), QStringLiteral("Built-in Microphone")},
                {QStringLiteral("usb"), QStringLiteral("USB Headset")}};
    }
    bool deviceExists(const QString& id) override { return id == QLatin1String("mic"); }
    int setDefaultInput(const QString&) override {
        ++switches;
        return 0;
    }
    std::unique_ptr<QAudioSource> openCapture(const QString&, const QAudioFormat&) override { return {}; }
    QString lastErrorText() const override { return {}; }
    int switches = 0;
};

struct PageRig : DashboardRig {
    std::shared_ptr<VanishingInputs> inputs = std::make_shared<VanishingInputs>();
    AudioInputDeviceStore vanishing{inputs};
    DashboardServices pageServices{auth,        session,       appSettings, promptSettings,
                                   history,     knowledgeBase, notes,       dictation.coordinator,
                                   permissions, vanishing,     account,     [] {},
                                   {},          std::nullopt};
    DashboardState state;
    std::unique_ptr<SettingsPage> page;

    SettingsPage& makePage(QSize size = {900, 900}) {
        vanishing.refresh(appSettings.selectedInputDeviceUID());
        page = std::make_unique<SettingsPage>(state, pageServices);
        page->resize(size);
        page->show();
        return *page;
    }
    template <class T> T* child(const QString& name) const { return page->findChild<T*>(name); }
};

} // namespace

class SettingsPageTest : public QObject {
    Q_OBJECT

private slots:
    // Stored values that match no option select nothing, and showing them never writes them back.
    void unmatchedValuesShowNoSelection() {
        PageRig rig;
        PromptSettings settings = rig.promptSettings.settings();
        settings.workDomainSelection = QStringLiteral("astrology");
        settings.transcriptionLanguageMode = QStringLiteral("french_only");
        rig.promptSettings.setSettings(settings);
        rig.appSettings.setSelectedInputDeviceUID(QStringLiteral("unplugged"));
        QSignalSpy writes(&rig.promptSettings, &PromptSettingsStore::settingsChanged);
        QSignalSpy micWrites(&rig.appSettings, &AppSettings::selectedInputDeviceUIDChanged);

        rig.makePage();
        QCOMPARE(rig.child<QComboBox>("domainPicker")->currentIndex(), -1);
        QCOMPARE(rig.child<QComboBox>("microphonePicker")->currentIndex(), -1);
        for (const char* segment : {"auto_detect", "english_only"})
            QVERIFY(!rig.child<QAbstractButton>(segment)->isChecked());
        QCOMPARE(writes.count(), 0);
        QCOMPARE(micWrites.count(), 0);
        QCOMPARE(rig.promptSettings.settings().workDomainSelection, QStringLiteral("astrology"));
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(),
                 std::optional<QString>(QStringLiteral("unplugged")));
    }

    // The custom domain field comes with "Custom", keeps its text while hidden, and saves each keystroke.
    void customDomainField() {
        PageRig rig;
        rig.makePage();
        auto* domain = rig.child<QComboBox>("domainPicker");
        auto* field = rig.child<QLineEdit>("customDomainField");
        QVERIFY(!field->isVisible());
        QCOMPARE(domain->count(), 26);
        domain->setCurrentIndex(25);
        emit domain->activated(25);
        QCOMPARE(rig.promptSettings.settings().workDomainSelection, QStringLiteral("custom"));
        QVERIFY(field->isVisible());
        QTest::keyClicks(field, "Bee");
        QCOMPARE(rig.promptSettings.settings().workDomainCustom, QStringLiteral("Bee"));
        emit domain->activated(16);
        QCOMPARE(rig.promptSettings.settings().workDomainSelection, QStringLiteral("medical"));
        QVERIFY(!field->isVisible());
        QCOMPARE(rig.promptSettings.settings().workDomainCustom, QStringLiteral("Bee"));
        QCOMPARE(field->text(), QStringLiteral("Bee"));
    }

    void languageSegments() {
        PageRig rig;
        rig.makePage();
        QTest::mouseClick(rig.child<QAbstractButton>("english_only"), Qt::LeftButton);
        QCOMPARE(rig.promptSettings.settings().transcriptionLanguageMode, QStringLiteral("english_only"));
        QVERIFY(rig.child<QAbstractButton>("english_only")->isChecked());
        QVERIFY(!rig.child<QAbstractButton>("auto_detect")->isChecked());
    }

    // A microphone that went away between listing and picking: the sentence shows, the stored id stays.
    void microphoneSwitchFailureIsShown() {
        PageRig rig;
        rig.makePage();
        auto* picker = rig.child<QComboBox>("microphonePicker");
        auto* error = rig.child<QLabel>("microphoneError");
        QCOMPARE(picker->itemText(0), QStringLiteral("System Default"));
        QCOMPARE(picker->currentIndex(), 0);
        const int usb = picker->findData(QStringLiteral("usb"));
        QVERIFY(usb > 0);
        emit picker->activated(usb);
        QCOMPARE(error->text(), QStringLiteral("Unable to find the selected microphone."));
        QVERIFY(error->isVisible());
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(), std::nullopt);
        QCOMPARE(picker->currentIndex(), 0);
        QCOMPARE(rig.inputs->switches, 0);

        emit picker->activated(picker->findData(QStringLiteral("mic")));
        QVERIFY(!error->isVisible());
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(), std::optional<QString>(QStringLiteral("mic")));
        QCOMPARE(rig.inputs->switches, 1);
    }

    void reviewOpensOnboarding() {
        PageRig rig;
        rig.makePage();
        QTest::mouseClick(rig.child<QAbstractButton>("permissionsReviewButton"), Qt::LeftButton);
        QVERIFY(rig.permissions.showOnboarding());
    }

    // The control sits beside the text in a wide page and below it in a narrow one; PNGs of both for people.
    void rowArrangementAndPictures() {
        PageRig rig;
        for (const auto& [width, arrangement, name] :
             {std::tuple{900, SettingsRules::RowArrangement::Horizontal, "settings-wide"},
              std::tuple{360, SettingsRules::RowArrangement::Stacked, "settings-narrow"}}) {
            rig.makePage({width, 900});
            QCoreApplication::processEvents();
            auto* row = rig.page->findChild<SettingsRow*>(QStringLiteral("Microphone"));
            QCOMPARE(row->arrangement(), arrangement);
            const QImage image = rig.page->grab().toImage();
            QDir().mkpath(SETTINGS_GALLERY_DIR);
            QVERIFY(image.save(QStringLiteral(SETTINGS_GALLERY_DIR "/%1.png").arg(name)));
        }
    }
};

QTEST_MAIN(SettingsPageTest)
#include "tst_settings_page.moc"
