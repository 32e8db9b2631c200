#include "DashboardRig.h"
#include "DashboardSheets.h"
#include "ModelSettingsCard.h"
#include "OutputSettingsCards.h"
#include "SettingsPage.h"
#include "SettingsRow.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QStackedWidget>
#include <QWheelEvent>
#include <QWindow>
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
    SettingsRow* row(const QString& title) const { return child<SettingsRow>(title); }
};

// What a control shows: the chosen item, the knob's position or the text.
QVariant controlValue(QWidget* control) {
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentIndex();
    if (auto* slider = qobject_cast<QAbstractSlider*>(control))
        return slider->value();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control))
        return spin->text();
    return {};
}

// One notch of the mouse wheel over the middle of `target`, delivered as the window system delivers it.
void wheel(QWidget* target, int delta) {
    const QPointF local = QRectF(target->rect()).center();
    QWheelEvent event(local, target->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(target, &event);
}

void savePicture(QWidget* widget, const QString& name) {
    QDir().mkpath(SETTINGS_GALLERY_DIR);
    QVERIFY(widget->grab().toImage().save(QStringLiteral(SETTINGS_GALLERY_DIR "/%1.png").arg(name)));
}

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

    // Exactly one tier card is marked; a click writes even on the marked card; an unknown tier marks none.
    void tierCards() {
        PageRig rig;
        rig.makePage();
        auto cards = rig.page->findChild<ModelSettingsCard*>()->optionCards();
        QCOMPARE(cards.size(), 3);
        const auto marked = [&] {
            QStringList values;
            for (ModelOptionCard* card : cards)
                if (card->isSelected())
                    values << card->value();
            return values;
        };
        const QString stored = rig.promptSettings.settings().transcriptionModel;
        QCOMPARE(marked(), QStringList{stored});

        QSignalSpy writes(&rig.promptSettings, &PromptSettingsStore::settingsChanged);
        int callbacks = 0;
        rig.promptSettings.onChange = [&callbacks] { ++callbacks; };
        ModelOptionCard* selected = *std::find_if(cards.begin(), cards.end(),
                                                  [](ModelOptionCard* card) { return card->isSelected(); });
        QTest::mouseClick(selected, Qt::LeftButton);
        QCOMPARE(writes.count(), 1);
        QCOMPARE(callbacks, 1);

        QTest::mouseClick(cards.at(2), Qt::LeftButton, {}, QPoint(cards.at(2)->width() - 5, 5));
        QCOMPARE(rig.promptSettings.settings().transcriptionModel, QStringLiteral("keystoner"));
        QCOMPARE(marked(), QStringList{"keystoner"});

        PromptSettings settings = rig.promptSettings.settings();
        settings.transcriptionModel = QStringLiteral("retired-tier");
        rig.promptSettings.setSettings(settings);
        QVERIFY(marked().isEmpty());
    }

    // "Edit" loads the stored prompt as stored; Clear, Cancel and Save do what they say and nothing more.
    void customPromptEditor_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("storedAfter");
        QTest::addColumn<QString>("draftAfter");
        QTest::addColumn<bool>("openAfter");
        const QString prompt = QStringLiteral("  Use bullet points.\n");
        QTest::newRow("save trims") << "" << "  Keep it short.  \n\n" << QStringList{"Save"} << "Keep it short."
                                    << "  Keep it short.  \n\n" << false;
        QTest::newRow("blank saves empty") << prompt << " \n \t" << QStringList{"Save"} << ""
                                           << " \n \t" << false;
        QTest::newRow("cancel keeps draft") << prompt << "Draft" << QStringList{"Cancel"} << prompt << "Draft"
                                            << false;
        QTest::newRow("clear then cancel") << prompt << QString() << QStringList{"Clear", "Cancel"} << prompt
                                           << "" << false;
        QTest::newRow("clear stays open") << prompt << QString() << QStringList{"Clear"} << prompt << ""
                                          << true;
        QTest::newRow("clear then save") << prompt << QString() << QStringList{"Clear", "Save"} << "" << ""
                                         << false;
    }
    void customPromptEditor() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QStringList, buttons);
        QFETCH(QString, storedAfter);
        QFETCH(QString, draftAfter);
        QFETCH(bool, openAfter);
        PageRig rig;
        PromptSettings settings = rig.promptSettings.settings();
        settings.customPrompt = stored;
        rig.promptSettings.setSettings(settings);
        rig.state.setCustomPromptDraft(QStringLiteral("left over from last time"));
        rig.makePage();
        QCOMPARE(rig.row("Custom system prompt")->subtitle(), SettingsRules::customPromptSummary(stored));

        QTest::mouseClick(rig.child<QAbstractButton>("editCustomPromptButton"), Qt::LeftButton);
        QVERIFY(rig.state.showCustomPromptEditor());
        QCOMPARE(rig.state.customPromptDraft(), stored);
        std::unique_ptr<QWidget> sheet(makeCustomPromptSheet(rig.state, rig.promptSettings));
        auto* editor = sheet->findChild<QPlainTextEdit*>("customPromptEditor");
        QCOMPARE(editor->toPlainText(), stored);
        if (!typed.isNull())
            editor->setPlainText(typed);
        for (const QString& button : buttons)
            QTest::mouseClick(sheet->findChild<QAbstractButton*>("customPrompt" + button + "Button"),
                              Qt::LeftButton);
        QCOMPARE(rig.promptSettings.settings().customPrompt, storedAfter);
        QCOMPARE(rig.state.customPromptDraft(), draftAfter);
        QCOMPARE(editor->toPlainText(), draftAfter);
        QCOMPARE(rig.state.showCustomPromptEditor(), openAfter);
        QCOMPARE(rig.row("Custom system prompt")->subtitle(), SettingsRules::customPromptSummary(storedAfter));
    }

    // E-mail formatting is shown on while it is not disabled, and written inverted both ways.
    void emailFormattingInverted() {
        PageRig rig;
        rig.appSettings.setDisableEmailFormatting(false);
        rig.makePage();
        auto* toggle = rig.child<QCheckBox>("Email Formatting");
        QVERIFY(toggle->isChecked());
        toggle->click();
        QCOMPARE(rig.appSettings.disableEmailFormatting(), true);
        QVERIFY(!toggle->isChecked());
        toggle->click();
        QCOMPARE(rig.appSettings.disableEmailFormatting(), false);
        rig.appSettings.setDisableEmailFormatting(true); // a change from elsewhere shows at once
        QVERIFY(!toggle->isChecked());
    }

    // An unknown stored style selects no segment, shows the Off sentence and is not rewritten until picked.
    void verbatimSegments() {
        PageRig rig;
        rig.appSettings.setVerbatimModeStyle(QStringLiteral("literal"));
        QSignalSpy writes(&rig.appSettings, &AppSettings::verbatimModeStyleChanged);
        rig.makePage();
        SettingsRow* row = rig.row("Verbatim Mode");
        for (const char* style : {"off", "assisted", "strict"})
            QVERIFY(!rig.child<QAbstractButton>(style)->isChecked());
        QCOMPARE(row->subtitle(), SettingsRules::verbatimSubtitle("off"));
        QCOMPARE(writes.count(), 0);
        QCOMPARE(rig.child<QWidget>("verbatimSegments")->width(), 200);

        QTest::mouseClick(rig.child<QAbstractButton>("strict"), Qt::LeftButton);
        QCOMPARE(rig.appSettings.verbatimModeStyle(), QStringLiteral("strict"));
        QCOMPARE(row->subtitle(), SettingsRules::verbatimSubtitle("strict"));
        QVERIFY(rig.child<QAbstractButton>("strict")->isChecked());
        QVERIFY(!rig.child<QAbstractButton>("off")->isChecked());
    }

    // "Reset Settings" only asks; the version line shows the build's version.
    void resetAndVersion() {
        PageRig rig;
        rig.pageServices.shortVersion = QStringLiteral("1.4.2");
        rig.pageServices.buildNumber = QStringLiteral("57");
        rig.appSettings.setAutoSpaceEnabled(false);
        rig.makePage();
        QCOMPARE(rig.child<QLabel>("versionLine")->text(), QStringLiteral("Version 1.4.2 (57)"));
        QTest::mouseClick(rig.child<QAbstractButton>("resetSettingsButton"), Qt::LeftButton);
        QVERIFY(rig.state.showResetConfirmation());
        QCOMPARE(rig.appSettings.autoSpaceEnabled(), false);
    }

    // The open help hangs below its row, above the later rows, and lets clicks through to their controls.
    void helpBubble() {
        PageRig rig;
        rig.makePage({900, 2600});
        QCoreApplication::processEvents();
        QWidget* bubble = rig.page->helpBubble();
        QVERIFY(!bubble->isVisible());
        // A row without help shows no bubble even when its id is the open one.
        rig.state.setActiveSettingsHelpID(QStringLiteral("Auto-add space"));
        QVERIFY(!bubble->isVisible());

        SettingsRow* owner = rig.row("Email Formatting");
        QTest::mouseMove(owner->helpIcon());
        QTRY_COMPARE(rig.state.activeSettingsHelpID(), std::optional<QString>("Email Formatting"));
        QVERIFY(bubble->isVisible());
        QCOMPARE(rig.page->findChild<QLabel*>("helpBubbleText")->text(), *owner->helpText());
        const QRect below = bubble->geometry();
        QVERIFY(below.center().y() > owner->mapTo(rig.page.get(), QPoint(0, owner->height())).y());

        // The next row's toggle lies under the bubble; a click there reaches it.
        auto* toggle = rig.child<QCheckBox>("Mute audio while dictating");
        const QPoint toggleCentre = toggle->mapTo(rig.page.get(), toggle->rect().center());
        bubble->move(toggleCentre - QPoint(bubble->width() / 2, bubble->height() / 2));
        QVERIFY(bubble->geometry().contains(toggleCentre));
        const bool before = rig.appSettings.autoPauseMedia();
        QWindow* window = rig.page->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, {}, rig.page->mapTo(rig.page->window(), toggleCentre));
        QTRY_COMPARE(rig.appSettings.autoPauseMedia(), !before);

        QTest::mouseMove(rig.row("Verbatim Mode")->helpIcon());
        QTRY_COMPARE(rig.state.activeSettingsHelpID(), std::optional<QString>("Verbatim Mode"));
        QCOMPARE(rig.page->findChild<QLabel*>("helpBubbleText")->text(), *rig.row("Verbatim Mode")->helpText());
        rig.state.setActiveSettingsHelpID(std::nullopt);
        QVERIFY(!bubble->isVisible());
    }

    // The wheel over any drop-down or slider of the page scrolls the page and changes no setting, in the
    // default window and in the smallest one (where the controls sit below their texts).
    void wheelScrollsThePage_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default window") << DashboardView::kDefaultSize;
        QTest::newRow("smallest window") << DashboardView::kMinimumSize;
    }
    void wheelScrollsThePage() {
        QFETCH(QSize, size);
        DashboardRig rig;
        rig.audioInputs.refresh(std::nullopt); // the system default and one microphone
        DashboardView& view = rig.makeView(size);
        view.state().setSelectedSection(AppSection::Settings);
        view.show();
        QCoreApplication::processEvents();
        auto* area = qobject_cast<QScrollArea*>(view.pages()->currentWidget());
        QVERIFY(area);
        QScrollBar* bar = area->verticalScrollBar();
        QList<QWidget*> controls;
        QStringList names;
        for (QWidget* widget : area->widget()->findChildren<QWidget*>()) {
            if (!controlValue(widget).isValid() || qobject_cast<QScrollBar*>(widget) ||
                !widget->isVisibleTo(area->widget()))
                continue;
            controls << widget;
            names << widget->objectName();
        }
        for (const char* name :
             {"microphonePicker", "domainPicker", "middleMousePicker", "typingDelayPicker", "silenceSlider"})
            QVERIFY2(names.contains(QLatin1String(name)), name);
        const auto stored = [&] {
            QFile file(rig.defaults.filePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        for (QWidget* control : controls) {
            area->ensureWidgetVisible(control);
            QCoreApplication::processEvents();
            const QByteArray before = stored();
            const QVariant value = controlValue(control);
            const int scrolled = bar->value();
            QVERIFY(bar->maximum() > 0);
            // Towards the end of the page unless it is there already.
            wheel(control, scrolled < bar->maximum() ? -120 : 120);
            QCOMPARE(controlValue(control), value);
            QCOMPARE(stored(), before);
            QVERIFY2(bar->value() != scrolled, qPrintable(control->objectName()));
        }
        QCOMPARE(rig.appSettings.selectedInputDeviceUID(), std::nullopt);
    }

    // The control sits beside the text in a wide page and below it in a narrow one; PNGs of both for people.
    void rowArrangementAndPictures() {
        PageRig rig;
        for (const auto& [width, arrangement, name] :
             {std::tuple{900, SettingsRules::RowArrangement::Horizontal, "settings-wide"},
              std::tuple{360, SettingsRules::RowArrangement::Stacked, "settings-narrow"}}) {
            rig.makePage({width, 900});
            QTest::qWait(50);
            // As the scroll area shows it: the page as tall as its width needs.
            QVERIFY(rig.page->hasHeightForWidth());
            rig.page->resize(width, rig.page->heightForWidth(width));
            QTest::qWait(50);
            auto* row = rig.page->findChild<SettingsRow*>(QStringLiteral("Microphone"));
            QCOMPARE(row->arrangement(), arrangement);
            savePicture(rig.page.get(), name);
        }
        rig.makePage({900, 2600});
        QCoreApplication::processEvents();
        rig.state.setActiveSettingsHelpID(QStringLiteral("Custom system prompt"));
        savePicture(rig.page.get(), "settings-help-open");
        PromptSettings settings = rig.promptSettings.settings();
        settings.customPrompt = QStringLiteral("Use British spelling.\nKeep paragraphs short.");
        rig.promptSettings.setSettings(settings);
        rig.state.setCustomPromptDraft(settings.customPrompt);
        std::unique_ptr<QWidget> sheet(makeCustomPromptSheet(rig.state, rig.promptSettings));
        sheet->show();
        savePicture(sheet.get(), "settings-prompt-sheet");
    }
};

QTEST_MAIN(SettingsPageTest)
#include "tst_settings_page.moc"
