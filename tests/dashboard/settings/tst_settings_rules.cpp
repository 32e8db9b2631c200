#include "SettingsRules.h"

#include <QTest>

using namespace SettingsRules;
using OptionalText = std::optional<QString>;

Q_DECLARE_METATYPE(OptionalText)
Q_DECLARE_METATYPE(SettingsRules::RowArrangement)

class SettingsRulesTest : public QObject {
    Q_OBJECT

private slots:
    // Moving from one info icon onto another: the second bubble ends open whichever order the events come in.
    void hoverEventsInEitherOrder_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<OptionalText>("open");
        QTest::newRow("enter then leave") << QStringList{"+A", "-A"} << OptionalText();
        QTest::newRow("leave before next enter") << QStringList{"+A", "-A", "+B"} << OptionalText("B");
        QTest::newRow("late leave after next enter") << QStringList{"+A", "+B", "-A"} << OptionalText("B");
        QTest::newRow("late leave then own leave") << QStringList{"+A", "+B", "-A", "-B"} << OptionalText();
        QTest::newRow("stray leave with nothing open") << QStringList{"-A"} << OptionalText();
    }
    void hoverEventsInEitherOrder() {
        QFETCH(QStringList, events);
        QFETCH(OptionalText, open);
        OptionalText current;
        for (const QString& event : events) {
            const QString row = event.mid(1);
            current = event.startsWith('+') ? helpAfterEnter(current, row) : helpAfterLeave(current, row);
        }
        QCOMPARE(current, open);
    }

    void bubbleNeedsHelpText() {
        QVERIFY(bubbleVisible(QString("Domain"), "Domain", true));
        QVERIFY(!bubbleVisible(QString("Domain"), "Domain", false));
        QVERIFY(!bubbleVisible(QString("Language"), "Domain", true));
        QVERIFY(!bubbleVisible(std::nullopt, "Domain", true));
    }

    // Narrow widths stack the control under the text; a stacked row needs some slack before it turns back.
    void rowArrangementByWidth_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<RowArrangement>("current");
        QTest::addColumn<RowArrangement>("expected");
        const auto H = RowArrangement::Horizontal;
        const auto S = RowArrangement::Stacked;
        // The horizontal arrangement needs 500, the slack is 16.
        QTest::newRow("wide stays horizontal") << 800 << H << H;
        QTest::newRow("wide leaves stacked") << 800 << S << H;
        QTest::newRow("exact fit stays horizontal") << 500 << H << H;
        QTest::newRow("one short stacks") << 499 << H << S;
        QTest::newRow("just fitting keeps stacked") << 510 << S << S;
        QTest::newRow("past the slack turns horizontal") << 516 << S << H;
        QTest::newRow("narrow stays stacked") << 300 << S << S;
    }
    void rowArrangementByWidth() {
        QFETCH(int, width);
        QFETCH(RowArrangement, current);
        QFETCH(RowArrangement, expected);
        QCOMPARE(rowArrangement(width, 500, current, 16), expected);
    }

    void microphoneOptionsStartWithSystemDefault() {
        QCOMPARE(microphoneOptions({}), (QList<Option>{{"System Default", ""}}));
        const QList<AudioInputDevice> devices{{"alsa_input.usb", "USB Mic", true},
                                              {"alsa_input.pci", "Built-in", false}};
        QCOMPARE(microphoneOptions(devices),
                 (QList<Option>{
                     {"System Default", ""}, {"USB Mic", "alsa_input.usb"}, {"Built-in", "alsa_input.pci"}}));
    }

    // The picker's value for the stored id, the option it selects, and the id a pick stands for.
    void microphoneSelection_data() {
        QTest::addColumn<OptionalText>("stored");
        QTest::addColumn<qsizetype>("index");
        QTest::newRow("none shows System Default") << OptionalText() << qsizetype(0);
        QTest::newRow("listed device") << OptionalText("alsa_input.usb") << qsizetype(1);
        QTest::newRow("unplugged device shows nothing") << OptionalText("gone") << qsizetype(-1);
    }
    void microphoneSelection() {
        QFETCH(OptionalText, stored);
        QFETCH(qsizetype, index);
        const QList<Option> options = microphoneOptions({{"alsa_input.usb", "USB Mic", true}});
        QCOMPARE(indexOfValue(options, microphoneValue(stored)), index);
        if (index >= 0)
            QCOMPARE(pickedDeviceUID(options.at(index).value), stored);
    }

    void domainOptions() {
        const QList<Option>& options = workDomainOptions();
        QCOMPARE(options.size(), 26);
        QCOMPARE(options.first(), (Option{"General / Other", "general"}));
        QCOMPARE(options.last(), (Option{"Custom", "custom"}));
        QSet<QString> values;
        for (const Option& option : options)
            values.insert(option.value);
        QCOMPARE(values.size(), 26);
    }

    // A stored value that matches no option selects nothing; matching is exact.
    void optionIndex_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("value");
        QTest::addColumn<qsizetype>("index");
        QTest::newRow("domain medical") << "domain"
                                        << "medical" << qsizetype(16);
        QTest::newRow("domain custom") << "domain"
                                       << "custom" << qsizetype(25);
        QTest::newRow("domain wrong case") << "domain"
                                           << "Medical" << qsizetype(-1);
        QTest::newRow("domain empty") << "domain"
                                      << "" << qsizetype(-1);
        QTest::newRow("language auto") << "language"
                                       << "auto_detect" << qsizetype(0);
        QTest::newRow("language english") << "language"
                                          << "english_only" << qsizetype(1);
        QTest::newRow("language unknown") << "language"
                                          << "french_only" << qsizetype(-1);
    }
    void optionIndex() {
        QFETCH(QString, list);
        QFETCH(QString, value);
        QFETCH(qsizetype, index);
        QCOMPARE(indexOfValue(list == "domain" ? workDomainOptions() : languageSegments(), value), index);
    }

    void customDomainField() {
        QVERIFY(customDomainFieldVisible("custom"));
        QVERIFY(!customDomainFieldVisible("Custom"));
        QVERIFY(!customDomainFieldVisible("general"));
    }

    void tiers() {
        const QList<ModelTier>& tiers = modelTiers();
        QCOMPARE(tiers.size(), 3);
        const QStringList titles{tiers[0].title, tiers[1].title, tiers[2].title};
        const QStringList values{tiers[0].value, tiers[1].value, tiers[2].value};
        QCOMPARE(titles, (QStringList{"Tidewell Blend", "Zephyrix Dash", "Keystoner Deck"}));
        QCOMPARE(values, (QStringList{"tidewell", "zephyrix", "keystoner"}));
    }

    void customPrompt_data() {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("saved");
        QTest::newRow("empty") << "" << customPromptFallback << "";
        QTest::newRow("blank lines") << " \n\t \n" << customPromptFallback << "";
        QTest::newRow("outer space trimmed, inner kept") << "  Use  bullet points.\nNo emoji.\n"
                                                         << "Use  bullet points.\nNo emoji."
                                                         << "Use  bullet points.\nNo emoji.";
        const QString longPrompt = QString("Spell out numbers. ").repeated(40).trimmed();
        QTest::newRow("long kept whole") << longPrompt << longPrompt << longPrompt;
    }
    void customPrompt() {
        QFETCH(QString, prompt);
        QFETCH(QString, summary);
        QFETCH(QString, saved);
        QCOMPARE(customPromptSummary(prompt), summary);
        QCOMPARE(promptToSave(prompt), saved);
    }

    void verbatimSubtitles_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("subtitle");
        const QString off = QStringLiteral("Off: standard smart formatting applied after transcription.");
        QTest::newRow("off") << "off" << off;
        QTest::newRow("assisted") << "assisted"
                                  << "Assisted: stays literal while the model auto-formats punctuation.";
        QTest::newRow("strict") << "strict" << "Strict: speak punctuation commands for full manual control.";
        QTest::newRow("unknown") << "literal" << off;
        QTest::newRow("case differs") << "Strict" << off;
        QTest::newRow("empty") << "" << off;
    }
    void verbatimSubtitles() {
        QFETCH(QString, style);
        QFETCH(QString, subtitle);
        QCOMPARE(verbatimSubtitle(style), subtitle);
    }

    void versionLine_data() {
        QTest::addColumn<OptionalText>("shortVersion");
        QTest::addColumn<OptionalText>("build");
        QTest::addColumn<QString>("line");
        QTest::newRow("both") << OptionalText("1.4.2") << OptionalText("57")
                              << "Version 1.4.2 (57)";
        QTest::newRow("no build") << OptionalText("1.4.2") << OptionalText()
                                  << "Version 1.4.2 (Unknown)";
        QTest::newRow("empty version") << OptionalText("") << OptionalText("57")
                                       << "Version Unknown (57)";
        QTest::newRow("neither") << OptionalText() << OptionalText()
                                 << "Version Unknown (Unknown)";
    }
    void versionLine() {
        QFETCH(OptionalText, shortVersion);
        QFETCH(OptionalText, build);
        QFETCH(QString, line);
        QCOMPARE(appVersionDisplay(shortVersion, build), line);
    }
};

QTEST_GUILESS_MAIN(SettingsRulesTest)
#include "tst_settings_rules.moc"
