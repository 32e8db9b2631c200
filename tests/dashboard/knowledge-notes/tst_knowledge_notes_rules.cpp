#include "KnowledgeRules.h"
#include "NotesRules.h"

#include <QTest>

using KnowledgeRules::SavePlan;

Q_DECLARE_METATYPE(SavePlan::Kind)
Q_DECLARE_METATYPE(RecordingMode)

namespace {

QList<DictionaryTerm> terms(int count) {
    QList<DictionaryTerm> result;
    for (int i = 0; i < count; ++i) {
        result.append({QUuid::createUuid(), QStringLiteral("term%1").arg(i), QString()});
    }
    return result;
}

QList<NoteEntry> notes(const QList<QUuid>& ids) {
    QList<NoteEntry> result;
    for (const QUuid& id : ids) {
        result.append({id, QStringLiteral("t"), QString(), QDateTime::currentDateTimeUtc()});
    }
    return result;
}

const QUuid a = QUuid::createUuid();
const QUuid b = QUuid::createUuid();
const QUuid c = QUuid::createUuid();

} // namespace

class TestKnowledgeNotesRules : public QObject {
    Q_OBJECT

private slots:
    void chips() {
        QCOMPARE(KnowledgeRules::dictionaryChips({}), QStringList());
        QCOMPARE(KnowledgeRules::dictionaryChips(terms(3)), QStringList({"term0", "term1", "term2"}));
        QCOMPARE(KnowledgeRules::dictionaryChips(terms(6)).size(), 5);
        QCOMPARE(KnowledgeRules::dictionaryChips(terms(6)).last(), QStringLiteral("term4"));
        // The hero card itself never shows more than five, whatever it is handed.
        QCOMPARE(
            KnowledgeRules::firstChips({"1", "2", "3", "4", "5", "6", "7"}, KnowledgeRules::heroChipLimit),
            QStringList({"1", "2", "3", "4", "5"}));

        QList<KnowledgeSnippet> snippets;
        for (int i = 0; i < 4; ++i) {
            snippets.append(
                {QUuid::createUuid(), QStringLiteral("s%1").arg(i), QStringLiteral("v%1").arg(i)});
        }
        QCOMPARE(KnowledgeRules::snippetChips(snippets),
                 QStringList({"\"s0\" -> v0", "\"s1\" -> v1", "\"s2\" -> v2"}));
    }

    void snippetChipText_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("chip");
        QTest::newRow("plain") << "addr"
                               << "1 Main St"
                               << "\"addr\" -> 1 Main St";
        QTest::newRow("empty value ends in arrow and blank") << "sig"
                                                             << ""
                                                             << "\"sig\" -> ";
        QTest::newRow("quotes kept unescaped") << "say \"hi\""
                                               << "\"hello\""
                                               << "\"say \"hi\"\" -> \"hello\"";
        QTest::newRow("blanks as stored") << " x "
                                          << " y "
                                          << "\" x \" ->  y ";
    }
    void snippetChipText() {
        QFETCH(QString, title);
        QFETCH(QString, value);
        QFETCH(QString, chip);
        QCOMPARE(KnowledgeRules::snippetChipText({QUuid::createUuid(), title, value}), chip);
    }

    void planSave_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("editing");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<SavePlan::Kind>("kind");
        QTest::addColumn<QString>("storedKey");
        QTest::addColumn<QString>("storedText");
        using K = SavePlan::Kind;
        QTest::newRow("new entry") << "Quillvane"
                                   << "brand" << false << false << K::Create << "Quillvane"
                                   << "brand";
        QTest::newRow("trimmed, note of a line break") << "  key  "
                                                       << "\n"
                                                       << false << false << K::Create << "key"
                                                       << "";
        QTest::newRow("inner line breaks kept") << "k"
                                                << " a\nb \n"
                                                << false << false << K::Create << "k"
                                                << "a\nb";
        QTest::newRow("edit of a listed entry") << "k2"
                                                << "n" << true << true << K::Update << "k2"
                                                << "n";
        QTest::newRow("edited entry gone: created") << "k"
                                                    << "n" << true << false << K::Create << "k"
                                                    << "n";
        QTest::newRow("blank key") << " \t\n "
                                   << "n" << false << false << K::Nothing << ""
                                   << "n";
        QTest::newRow("blank key while editing") << ""
                                                 << "n" << true << true << K::Nothing << ""
                                                 << "n";
    }
    void planSave() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(bool, editing);
        QFETCH(bool, exists);
        QFETCH(SavePlan::Kind, kind);
        QFETCH(QString, storedKey);
        QFETCH(QString, storedText);
        const QUuid id = QUuid::createUuid();
        const SavePlan plan =
            KnowledgeRules::planSave(key, text, editing ? std::optional<QUuid>(id) : std::nullopt, exists);
        QCOMPARE(plan.kind, kind);
        QCOMPARE(KnowledgeRules::canSave(key), kind != SavePlan::Kind::Nothing);
        if (kind != SavePlan::Kind::Nothing) {
            QCOMPARE(plan.key, storedKey);
            QCOMPARE(plan.text, storedText);
        }
        if (kind == SavePlan::Kind::Update) {
            QCOMPARE(plan.id, id);
        }
    }

    void rowTexts_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<QString>("preview");
        QTest::newRow("empty") << ""
                               << ""
                               << "Untitled"
                               << "Empty note";
        QTest::newRow("blank title kept") << "  "
                                          << "x"
                                          << "  "
                                          << "x";
        QTest::newRow("two lines of four") << "T"
                                           << "one\ntwo\nthree\nfour"
                                           << "T"
                                           << "one\ntwo";
        QTest::newRow("windows line ends") << "T"
                                           << "one\r\ntwo\r\nthree"
                                           << "T"
                                           << "one\ntwo";
        QTest::newRow("empty first line counts") << "T"
                                                 << "\nsecond\nthird"
                                                 << "T"
                                                 << "\nsecond";
    }
    void rowTexts() {
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(QString, shownTitle);
        QFETCH(QString, preview);
        QCOMPARE(NotesRules::rowTitle(title), shownTitle);
        QCOMPARE(NotesRules::rowPreview(body), preview);
    }

    void timeText() {
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        const QDateTime time(QDate(2026, 3, 7), QTime(16, 5), Qt::UTC);
        const QString text = NotesRules::timeText(time, us);
        QCOMPARE(text, QStringLiteral("Mar 7, 2026 at ") + us.toString(QTime(16, 5), QLocale::ShortFormat));
        QVERIFY(text.contains(QStringLiteral("4:05")));
        // A short format with seconds loses them.
        QCOMPARE(NotesRules::timeText(time, QLocale::c()), QStringLiteral("Mar 7, 2026 at 16:05"));
    }

    void selection_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<std::optional<QUuid>>("selected");
        QTest::addColumn<QList<QUuid>>("ids");
        QTest::addColumn<std::optional<QUuid>>("expected");
        const std::optional<QUuid> none;
        QTest::newRow("show: none selected takes the top")
            << "show" << none << QList<QUuid>{a, b} << std::optional(a);
        QTest::newRow("show: selection kept")
            << "show" << std::optional(b) << QList<QUuid>{a, b} << std::optional(b);
        QTest::newRow("show: empty store") << "show" << none << QList<QUuid>{} << none;
        QTest::newRow("change: voice note on top keeps selection")
            << "change" << std::optional(b) << QList<QUuid>{c, a, b} << std::optional(b);
        QTest::newRow("change: voice note into empty list is selected")
            << "change" << none << QList<QUuid>{c} << std::optional(c);
        QTest::newRow("change: selected note gone takes the top")
            << "change" << std::optional(b) << QList<QUuid>{a, c} << std::optional(a);
        QTest::newRow("change: all gone") << "change" << std::optional(b) << QList<QUuid>{} << none;
        QTest::newRow("delete: the top, not a neighbour")
            << "delete" << std::optional(b) << QList<QUuid>{a, c} << std::optional(a);
        QTest::newRow("delete: the only note") << "delete" << std::optional(a) << QList<QUuid>{} << none;
    }
    void selection() {
        QFETCH(QString, rule);
        QFETCH(std::optional<QUuid>, selected);
        QFETCH(QList<QUuid>, ids);
        QFETCH(std::optional<QUuid>, expected);
        std::optional<QUuid> result;
        if (rule == QLatin1String("show")) {
            result = NotesRules::selectionOnShow(selected, notes(ids));
        } else if (rule == QLatin1String("change")) {
            result = NotesRules::selectionAfterChange(selected, notes(ids));
        } else {
            result = NotesRules::selectionAfterDelete(notes(ids));
        }
        QCOMPARE(result, expected);
    }

    void voiceNoteButton_data() {
        QTest::addColumn<bool>("recorderRuns");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("label");
        QTest::newRow("idle after a note") << false << RecordingMode::Note << "Record Voice Note";
        QTest::newRow("idle after dictation") << false << RecordingMode::Transcription << "Record Voice Note";
        QTest::newRow("recording a note") << true << RecordingMode::Note << "Stop Voice Note";
        QTest::newRow("dictation running") << true << RecordingMode::Transcription << "Record Voice Note";
        QTest::newRow("AI Mode running") << true << RecordingMode::SmartEdit << "Record Voice Note";
    }
    void voiceNoteButton() {
        QFETCH(bool, recorderRuns);
        QFETCH(RecordingMode, mode);
        QFETCH(QString, label);
        QCOMPARE(NotesRules::voiceNoteButtonLabel(NotesRules::isRecordingVoiceNote(recorderRuns, mode)),
                 label);
    }
};

QTEST_GUILESS_MAIN(TestKnowledgeNotesRules)
#include "tst_knowledge_notes_rules.moc"
