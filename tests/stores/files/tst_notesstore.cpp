#include "ManualScheduler.h"
#include "NotesStore.h"
#include "StoreTestSupport.h"
#include "TextUtilities.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>

using namespace storetest;

namespace {

const QString kFile = QStringLiteral("notes.json");

QString idText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Ways a note edit waiting for its delayed save reaches the disk at once.
enum class WriteNow { Flush, DestroyStore, CreateNote, DeleteOtherNote };

} // namespace

Q_DECLARE_METATYPE(WriteNow)

class TestNotesStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Fixture::setUpProcess(m_runtime.path()); }
    void init() { m_fixture.start(); }
    void cleanup() { m_fixture.stop(); }

    void roundTripThroughTheFile() {
        const QDateTime withFraction = kStart.addMSecs(750);
        QList<NoteEntry> notes;
        {
            NotesStore store(m_fixture.folder());
            QSignalSpy changed(&store, &NotesStore::notesChanged);
            const NoteEntry first = store.createNote(QStringLiteral("New Note"), QString(), kStart);
            const NoteEntry second = store.createNote(QStringLiteral("  Ünïcödé 🎉 "),
                                                      QStringLiteral("line\nline \"2\""), withFraction);
            QCOMPARE(changed.count(), 2);
            QCOMPARE(store.notes(), QList<NoteEntry>({second, first})); // newest first
            QCOMPARE(second.timestamp, withFraction);                   // memory keeps the fraction
            QCOMPARE(takeLog(),
                     QStringList({"INFO Note created id=" + idText(first.id) + " title_chars=8",
                                  "INFO Note created id=" + idText(second.id) + " title_chars=12"}));
            notes = store.notes();
        }

        const QByteArray text = readFile(m_fixture.path(kFile));
        QVERIFY(!text.contains('\n') && !text.contains(": "));
        const QJsonArray array = QJsonDocument::fromJson(text).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array.at(0).toObject().value("id").toString(), idText(notes.at(0).id));
        QCOMPARE(array.at(0).toObject().value("timestamp").toString(),
                 QStringLiteral("2026-03-14T15:09:26Z"));

        NotesStore reloaded(m_fixture.folder());
        notes[0].timestamp = kStart; // written with whole seconds
        QCOMPARE(reloaded.notes(), notes);
        QCOMPARE(takeLog(), QStringList{"INFO Loaded notes entries=2"});
    }

    void fileAcceptsLowerCaseIdsAndAnyMemberOrder() {
        writeFile(
            m_fixture.path(kFile),
            R"([{"timestamp":"2026-03-14T17:09:26+02:00","body":"b","title":"t","id":"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee","x":1}])");
        NotesStore store(m_fixture.folder());
        QCOMPARE(store.notes(),
                 QList<NoteEntry>({{QUuid::fromString(QStringLiteral("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE")),
                                    "t", "b", kStart}}));
    }

    void voiceNoteTitleAndBody_data() {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("chars");
        QTest::newRow("leading blank lines and spaces") << "\n\n   \t Buy milk\nand bread  \n"
                                                        << "Buy milk"
                                                        << "Buy milk\nand bread" << 18;
        QTest::newRow("first line longer than 60 characters")
            << QString("word ").repeated(15) + "\nsecond" << QString("word ").repeated(12)
            << QString("word ").repeated(15) + "\nsecond" << 82;
        QTest::newRow("only white space") << " \n\t\u2028 "
                                          << "Voice Note"
                                          << "" << 0;
        QTest::newRow("empty") << ""
                               << "Voice Note"
                               << "" << 0;
        QTest::newRow("title line trimmed, carriage returns break lines") << "First  \r\nSecond"
                                                                          << "First"
                                                                          << "First  \r\nSecond" << 14;
        QTest::newRow("line and paragraph separators break lines") << "One\u2029Two\u2028Three"
                                                                   << "One"
                                                                   << "One\u2029Two\u2028Three" << 13;
        // 61 family emoji (each several code points), a blank and a flag: the title keeps 60 whole
        // characters.
        const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("characters are grapheme clusters")
            << family.repeated(61) + QStringLiteral(" \U0001F1EB\U0001F1F7") << family.repeated(60)
            << family.repeated(61) + QStringLiteral(" \U0001F1EB\U0001F1F7") << 63;
    }

    void voiceNoteTitleAndBody() {
        QFETCH(QString, transcript);
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(int, chars);
        NotesStore store(m_fixture.folder());
        const NoteEntry note = store.addVoiceNote(transcript, kStart);
        QCOMPARE(note.title, title);
        QCOMPARE(note.body, body);
        QCOMPARE(note.timestamp, kStart);
        QCOMPARE(store.notes(), QList<NoteEntry>{note});
        QCOMPARE(
            takeLog(),
            QStringList(
                {"INFO Note created id=" + idText(note.id) +
                     " title_chars=" + QString::number(Text::graphemeCount(title)),
                 QStringLiteral("INFO Voice note saved id=%1 chars=%2").arg(idText(note.id)).arg(chars)}));
        QCOMPARE(NotesStore(m_fixture.folder()).notes(), store.notes());
    }

    void updateNote_data() {
        QTest::addColumn<std::optional<QString>>("title");
        QTest::addColumn<std::optional<QString>>("body");
        QTest::addColumn<QString>("expectedTitle");
        QTest::addColumn<QString>("expectedBody");
        QTest::newRow("title and body") << std::optional<QString>("T") << std::optional<QString>("B") << "T"
                                        << "B";
        QTest::newRow("blank title becomes Untitled")
            << std::optional<QString>(" \n ") << std::optional<QString>() << "Untitled"
            << "body";
        QTest::newRow("surrounding blanks kept")
            << std::optional<QString>("  x  ") << std::optional<QString>() << "  x  "
            << "body";
        QTest::newRow("body only, may be empty")
            << std::optional<QString>() << std::optional<QString>("") << "title"
            << "";
        QTest::newRow("neither") << std::optional<QString>() << std::optional<QString>() << "title"
                                 << "body";
    }

    void updateNote() {
        QFETCH(std::optional<QString>, title);
        QFETCH(std::optional<QString>, body);
        QFETCH(QString, expectedTitle);
        QFETCH(QString, expectedBody);
        ManualScheduler scheduler(m_fixture.clock());
        NotesStore store(m_fixture.folder(), &scheduler);
        const NoteEntry target = store.createNote(QStringLiteral("title"), QStringLiteral("body"), kStart);
        const NoteEntry newer = store.createNote(QStringLiteral("newer"), QString(), kStart.addSecs(60));
        QFile::remove(m_fixture.path(kFile));
        takeLog();

        store.updateNote(target.id, title, body);
        const QList<NoteEntry> expected{newer, {target.id, expectedTitle, expectedBody, kStart}};
        QCOMPARE(store.notes(), expected); // neither moved nor re-stamped
        scheduler.advance(NotesStore::kSaveDelay);
        QCOMPARE(NotesStore(m_fixture.folder()).notes(), expected); // saved even when nothing changed
        QCOMPARE(takeLog(), QStringList{"INFO Loaded notes entries=2"});
    }

    // Keystrokes are written together: `edits` are the moments (ms) of body changes, `writes` the moments
    // the file is replaced; each write holds the last keystroke made before it.
    void editsAreWrittenTogether_data() {
        QTest::addColumn<QList<int>>("edits");
        QTest::addColumn<QList<int>>("writes");
        QTest::newRow("one keystroke") << QList<int>{0} << QList<int>{500};
        QTest::newRow("a burst is one write after the last key")
            << QList<int>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900} << QList<int>{1400};
        QTest::newRow("two bursts") << QList<int>{0, 100, 1000, 1200} << QList<int>{600, 1700};
        QList<int> steady;
        for (int at = 0; at <= 6000; at += 400) {
            steady << at;
        }
        QTest::newRow("steady typing still reaches the disk every 5 s") << steady << QList<int>{5000, 6500};
    }

    void editsAreWrittenTogether() {
        QFETCH(QList<int>, edits);
        QFETCH(QList<int>, writes);
        ManualScheduler scheduler(m_fixture.clock());
        NotesStore store(m_fixture.folder(), &scheduler);
        const QUuid id = store.createNote(QStringLiteral("t"), QString(), kStart).id;
        QFile::remove(m_fixture.path(kFile));

        QList<int> written;
        QString lastTyped;
        for (int at = 0; at <= 12000; at += 100) {
            if (at > 0) {
                scheduler.advance(std::chrono::milliseconds(100));
            }
            if (QFileInfo::exists(m_fixture.path(kFile))) {
                written << at;
                QCOMPARE(NotesStore(m_fixture.folder()).notes().first().body, lastTyped);
                QVERIFY(QFile::remove(m_fixture.path(kFile)));
            }
            if (edits.contains(at)) {
                lastTyped = QStringLiteral("typed until %1 ms").arg(at);
                store.updateNote(id, std::nullopt, lastTyped);
            }
        }
        QCOMPARE(written, writes);
        QVERIFY(!store.hasUnsavedEdits());
    }

    void waitingEditIsWrittenAtOnce_data() {
        QTest::addColumn<WriteNow>("how");
        QTest::newRow("flush") << WriteNow::Flush;
        QTest::newRow("store destroyed") << WriteNow::DestroyStore;
        QTest::newRow("a note created") << WriteNow::CreateNote;
        QTest::newRow("another note deleted") << WriteNow::DeleteOtherNote;
    }

    void waitingEditIsWrittenAtOnce() {
        QFETCH(WriteNow, how);
        ManualScheduler scheduler(m_fixture.clock());
        auto store = std::make_unique<NotesStore>(m_fixture.folder(), &scheduler);
        const NoteEntry other = store->createNote(QStringLiteral("other"), QString(), kStart);
        const NoteEntry edited = store->createNote(QStringLiteral("t"), QString(), kStart);
        QFile::remove(m_fixture.path(kFile));
        store->updateNote(edited.id, QStringLiteral("Plan"), QStringLiteral("last keystroke"));
        QVERIFY(store->hasUnsavedEdits());
        QVERIFY(!QFileInfo::exists(m_fixture.path(kFile)));

        switch (how) {
        case WriteNow::Flush:
            store->flush();
            break;
        case WriteNow::DestroyStore:
            store.reset();
            break;
        case WriteNow::CreateNote:
            store->createNote(QStringLiteral("new"), QString(), kStart);
            break;
        case WriteNow::DeleteOtherNote:
            store->deleteNote(other.id);
            break;
        }
        const std::optional<NoteEntry> reloaded = NotesStore(m_fixture.folder()).note(edited.id);
        QVERIFY(reloaded);
        QCOMPARE(reloaded->title, QStringLiteral("Plan"));
        QCOMPARE(reloaded->body, QStringLiteral("last keystroke"));
        QCOMPARE(scheduler.pendingCount(), 0); // no second write of the same edit later

        // With nothing waiting, a flush writes nothing.
        QVERIFY(QFile::remove(m_fixture.path(kFile)));
        if (store) {
            QVERIFY(!store->hasUnsavedEdits());
            store->flush();
        }
        QVERIFY(!QFileInfo::exists(m_fixture.path(kFile)));
    }

    // A title made for a note replaces only the title the note was created with.
    void renameIfTitleIs_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("sameId");
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<QString>("title");
        QTest::newRow("title untouched") << "Notes from the sync" << true << true << "Team sync";
        QTest::newRow("user typed a title") << "Agenda" << true << false << "Agenda";
        QTest::newRow("user cleared the title") << "Untitled" << true << false << "Untitled";
        QTest::newRow("user added to the title")
            << "Notes from the sync!" << true << false << "Notes from the sync!";
        QTest::newRow("note deleted") << "Notes from the sync" << false << false << "Notes from the sync";
    }

    void renameIfTitleIs() {
        QFETCH(QString, current);
        QFETCH(bool, sameId);
        QFETCH(bool, renamed);
        QFETCH(QString, title);
        ManualScheduler scheduler(m_fixture.clock());
        NotesStore store(m_fixture.folder(), &scheduler);
        const NoteEntry note = store.addVoiceNote(QStringLiteral("Notes from the sync"), kStart);
        store.updateNote(note.id, current, std::nullopt);
        QSignalSpy changed(&store, &NotesStore::notesChanged);

        const QUuid target = sameId ? note.id : QUuid::createUuid();
        QCOMPARE(store.renameIfTitleIs(target, note.title, QStringLiteral("Team sync")), renamed);
        QCOMPARE(store.notes().first().title, title);
        QCOMPARE(store.notes().first().body, QStringLiteral("Notes from the sync"));
        QCOMPARE(changed.count(), renamed ? 1 : 0);
        store.flush();
        QCOMPARE(NotesStore(m_fixture.folder()).notes().first().title, title);
    }

    void unknownIdsAreIgnored() {
        NotesStore store(m_fixture.folder());
        const NoteEntry only = store.createNote(QStringLiteral("t"), QStringLiteral("b"), kStart);
        QFile::remove(m_fixture.path(kFile));
        takeLog();
        QSignalSpy changed(&store, &NotesStore::notesChanged);

        store.updateNote(QUuid::createUuid(), QStringLiteral("x"), QStringLiteral("y"));
        store.deleteNote(QUuid::createUuid());
        QCOMPARE(store.notes(), QList<NoteEntry>{only});
        QCOMPARE(changed.count(), 0);
        QCOMPARE(takeLog(), QStringList());
        QVERIFY(!QFileInfo::exists(m_fixture.path(kFile)));

        QVERIFY(store.note(only.id) == only);
        QVERIFY(!store.note(std::nullopt));
        QVERIFY(!store.note(QUuid::createUuid()));
    }

    void deletingTheOnlyNoteLeavesAnEmptyArray() {
        NotesStore store(m_fixture.folder());
        const NoteEntry note = store.createNote(QStringLiteral("Groceries"), QString(), kStart);
        takeLog();
        store.deleteNote(note.id);
        QVERIFY(store.notes().isEmpty());
        QCOMPARE(readFile(m_fixture.path(kFile)), QByteArray("[]"));
        QCOMPARE(takeLog(), QStringList{"INFO Note deleted id=" + idText(note.id) + " title_chars=9"});
    }

    void failedSaveKeepsTheNote() {
        writeFile(m_fixture.folder(), "a file where the folder should be");
        NotesStore store(m_fixture.folder());
        const NoteEntry note = store.createNote(QStringLiteral("t"), QString(), kStart);
        QCOMPARE(store.notes(), QList<NoteEntry>{note});
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).startsWith(QStringLiteral("ERROR Failed to save notes: ")), qPrintable(log.at(1)));
    }

    void unreadableNotesAreLeftOutAndTheFileSetAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("leftOut"); // 0: nothing could be read
        const QByteArray good =
            R"({"id":"00000000-0000-0000-0000-000000000001","title":"t","body":"b","timestamp":"2026-03-14T15:09:26Z"})";
        QTest::newRow("one note with a fractional second")
            << "[" + good +
                   R"(,{"id":"00000000-0000-0000-0000-000000000002","title":"t","body":"b","timestamp":"2026-03-14T15:09:26.5Z"}])"
            << 1 << 1;
        QTest::newRow("timestamp without zone")
            << QByteArray(
                   R"([{"id":"00000000-0000-0000-0000-000000000002","title":"t","body":"b","timestamp":"2026-03-14T15:09:26"}])")
            << 0 << 1;
        QTest::newRow("body missing")
            << "[" + good +
                   R"(,{"id":"00000000-0000-0000-0000-000000000002","title":"t","timestamp":"2026-03-14T15:09:26Z"}])"
            << 1 << 1;
        QTest::newRow("title null")
            << QByteArray(
                   R"([{"id":"00000000-0000-0000-0000-000000000002","title":null,"body":"b","timestamp":"2026-03-14T15:09:26Z"}])")
            << 0 << 1;
        QTest::newRow("malformed id before a good one")
            << QByteArray(R"([{"id":"1","title":"t","body":"b","timestamp":"2026-03-14T15:09:26Z"},)") +
                   good + "]"
            << 1 << 1;
        QTest::newRow("an object at the top") << "{\"notes\":[" + good + "]}" << 0 << 0;
        QTest::newRow("truncated") << "[" + good.left(40) << 0 << 0;
    }

    void unreadableNotesAreLeftOutAndTheFileSetAside() {
        QFETCH(QByteArray, content);
        QFETCH(int, kept);
        QFETCH(int, leftOut);
        writeFile(m_fixture.path(kFile), content);
        const QString aside = m_fixture.path(kFile) + kCorruptSuffix;
        NotesStore store(m_fixture.folder());
        QCOMPARE(store.notes().size(), kept);
        for (const NoteEntry& note : store.notes()) {
            QCOMPARE(note.id, QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-000000000001")));
        }
        const QString problem = setAsideLogProblem(takeLog(), QStringLiteral("notes"), aside, leftOut);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(readFile(aside), content);
        QCOMPARE(NotesStore(m_fixture.folder()).notes(), store.notes());

        const NoteEntry note = store.createNote(QStringLiteral("fresh"), QString(), kStart);
        QCOMPARE(NotesStore(m_fixture.folder()).notes(), store.notes());
        QCOMPARE(store.notes().first(), note);
        QCOMPARE(readFile(aside), content);
    }

private:
    QTemporaryDir m_runtime;
    Fixture m_fixture;
};

QTEST_GUILESS_MAIN(TestNotesStore)
#include "tst_notesstore.moc"
