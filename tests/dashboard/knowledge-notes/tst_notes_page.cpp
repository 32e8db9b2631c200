#include "DashboardState.h"
#include "ManualScheduler.h"
#include "NotesPage.h"
#include "NotesStore.h"
#include "PageTestSupport.h"
#include "RuntimeLogCapture.h"
#include "VoiceNoteControl.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(RecordingMode)

namespace {

class FakeVoice : public VoiceNoteControl {
public:
    bool running = false;
    RecordingMode mode = RecordingMode::Transcription;
    std::optional<QString> summary;
    QStringList calls;

    bool recorderIsRecording() const override { return running; }
    RecordingMode activeMode() const override { return mode; }
    std::optional<QString> lastRecordingSummary() const override { return summary; }
    QCoro::Task<> startRecording(RecordingMode m, OutputMode o) override {
        calls << QStringLiteral("start %1 %2").arg(logLabel(m), logLabel(o));
        co_return;
    }
    QCoro::Task<> stopRecording() override {
        calls << QStringLiteral("stop");
        co_return;
    }
};

QStringList rowTitles(const QWidget* page) {
    QStringList result;
    for (QWidget* row : widgetsTopToBottom(page, QStringLiteral("noteRow"))) {
        result << row->findChild<QLabel*>(QStringLiteral("noteRowTitle"))->text();
    }
    return result;
}

} // namespace

class TestNotesPage : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<NotesStore> m_store;
    std::unique_ptr<DashboardState> m_state;
    std::unique_ptr<FakeVoice> m_voice;

    std::unique_ptr<NotesPage> makePage(int width = 1000) {
        auto page = std::make_unique<NotesPage>(*m_store, *m_voice, *m_state);
        page->resize(width, 700);
        page->show();
        QCoreApplication::processEvents();
        return page;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<NotesStore>(m_dir->path());
        m_state = std::make_unique<DashboardState>();
        m_voice = std::make_unique<FakeVoice>();
    }
    void cleanup() {
        m_store.reset();
        m_state.reset();
        m_voice.reset();
        m_dir.reset();
    }

    void emptyStore() {
        auto page = makePage();
        QVERIFY(page->findChild<QLabel*>(QStringLiteral("notesEmpty"))->isVisible());
        QVERIFY(!page->findChild<QPushButton*>(QStringLiteral("deleteNoteButton"))->isEnabled());
        QVERIFY(page->findChild<QWidget*>(QStringLiteral("noteEmptyState"))->isVisible());
        QCOMPARE(m_state->selectedNoteID(), std::nullopt);
    }

    void newNoteAndDelete() {
        const NoteEntry old = m_store->createNote(QStringLiteral("Old"), QStringLiteral("a\nb\nc"),
                                                  QDateTime::currentDateTimeUtc());
        auto page = makePage();
        QCOMPARE(m_state->selectedNoteID(), std::optional(old.id)); // selected on show
        RuntimeLogCapture log;
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("newNoteButton")), Qt::LeftButton);
        QCOMPARE(m_store->notes().size(), 2);
        const NoteEntry created = m_store->notes().first();
        QCOMPARE(created.title, QStringLiteral("New Note"));
        QCOMPARE(m_state->selectedNoteID(), std::optional(created.id));
        QCoreApplication::processEvents();
        QCOMPARE(rowTitles(page.get()), QStringList({"New Note", "Old"}));
        const QStringList created_lines = log.lines().filter(QStringLiteral("Note created id="));
        QCOMPARE(created_lines.size(), 1);
        // The title stays out of the log; only its length is there.
        QVERIFY(created_lines.first().endsWith(QStringLiteral(" title_chars=8")));
        QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("noteTitleField"))->text(),
                 QStringLiteral("New Note"));

        // A click on the older row selects it; Delete then selects the top note.
        m_store->createNote(QStringLiteral("Newest"), QString(), QDateTime::currentDateTimeUtc());
        QCoreApplication::processEvents();
        QList<QWidget*> rows = page->findChildren<QWidget*>(QStringLiteral("noteRow"));
        QWidget* oldRow = *std::find_if(rows.begin(), rows.end(),
                                        [&](QWidget* r) { return r->property("noteId").toUuid() == old.id; });
        QTest::mouseClick(oldRow, Qt::LeftButton);
        QCOMPARE(m_state->selectedNoteID(), std::optional(old.id));
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("deleteNoteButton")), Qt::LeftButton);
        QCOMPARE(m_state->selectedNoteID(), std::optional(m_store->notes().first().id));
        QCOMPARE(m_store->notes().first().title, QStringLiteral("Newest"));
    }

    void voiceNotesAndSelection() {
        const NoteEntry typed =
            m_store->createNote(QStringLiteral("Typed"), QString(), QDateTime::currentDateTimeUtc());
        auto page = makePage();
        QCOMPARE(m_state->selectedNoteID(), std::optional(typed.id));
        QWidget* typedRow = page->findChild<QWidget*>(QStringLiteral("noteRow"));
        m_store->addVoiceNote(QStringLiteral("hello from a voice note"), QDateTime::currentDateTimeUtc());
        QCoreApplication::processEvents();
        QCOMPARE(m_state->selectedNoteID(), std::optional(typed.id));
        QCOMPARE(rowTitles(page.get()).size(), 2);
        // The existing row widget is kept, not rebuilt.
        QVERIFY(page->findChildren<QWidget*>(QStringLiteral("noteRow")).contains(typedRow));

        m_store->deleteNote(typed.id);
        m_store->deleteNote(m_store->notes().first().id);
        QCOMPARE(m_state->selectedNoteID(), std::nullopt);
        m_store->addVoiceNote(QStringLiteral("into an empty list"), QDateTime::currentDateTimeUtc());
        QCOMPARE(m_state->selectedNoteID(), std::optional(m_store->notes().first().id));
    }

    void voiceNoteButton_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("call");
        QTest::newRow("idle") << false << RecordingMode::Note << "Record Voice Note"
                              << "start note paste";
        QTest::newRow("note recording") << true << RecordingMode::Note << "Stop Voice Note"
                                        << "stop";
        QTest::newRow("dictation recording") << true << RecordingMode::Transcription << "Record Voice Note"
                                             << "start note paste";
        QTest::newRow("idle after AI Mode") << false << RecordingMode::SmartEdit << "Record Voice Note"
                                            << "start note paste";
    }
    void voiceNoteButton() {
        QFETCH(bool, running);
        QFETCH(RecordingMode, mode);
        QFETCH(QString, label);
        QFETCH(QString, call);
        auto page = makePage();
        auto* button = page->findChild<QPushButton*>(QStringLiteral("voiceNoteButton"));
        m_voice->running = running;
        m_voice->mode = mode;
        m_voice->summary = QStringLiteral("Captured 2.0s WAV at a.wav");
        emit m_voice->changed();
        QCOMPARE(button->text(), label);
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("recordingSummary"))->text(),
                 QStringLiteral("Captured 2.0s WAV at a.wav"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_voice->calls, QStringList({call}));
    }

    // Re-checked when pressed: a recording that started after the last repaint is stopped.
    void voiceNoteRecheckedOnPress() {
        auto page = makePage();
        m_voice->running = true;
        m_voice->mode = RecordingMode::Note;
        page->pressVoiceNote();
        QCOMPARE(m_voice->calls, QStringList({"stop"}));
    }

    void layoutByWidth() {
        auto page = makePage(NotesPage::sideBySideWidth() + 40);
        QVERIFY(page->isSideBySide());
        auto* list = page->findChild<QWidget*>(QStringLiteral("notesListCard"));
        auto* editor = page->findChild<QWidget*>(QStringLiteral("notesEditorCard"));
        page->resize(NotesPage::sideBySideWidth() - 40, 900);
        QCoreApplication::processEvents();
        QVERIFY(!page->isSideBySide());
        QCOMPARE(page->findChild<QWidget*>(QStringLiteral("notesListCard")), list);
        QVERIFY(list->geometry().bottom() < editor->geometry().top());
        QVERIFY(editor->height() >= 360);
        page->resize(NotesPage::sideBySideWidth() + 200, 700);
        QCoreApplication::processEvents();
        QVERIFY(page->isSideBySide());
        QVERIFY(list->geometry().right() < editor->geometry().left());
    }

    // Clearing the title and typing again gives what was typed, not "UntitledA"; the store keeps
    // "Untitled" for the blank title, and the field shows it once left.
    void titleClearAndRetype() {
        m_store->createNote(QStringLiteral("Hi"), QStringLiteral("body"), QDateTime::currentDateTimeUtc());
        auto page = makePage();
        page->activateWindow();
        auto* title = page->findChild<QLineEdit*>(QStringLiteral("noteTitleField"));
        auto* body = page->findChild<QPlainTextEdit*>(QStringLiteral("noteBodyField"));
        title->setFocus();
        QTRY_VERIFY(title->hasFocus());
        title->selectAll();
        QTest::keyClick(title, Qt::Key_Backspace);
        QCOMPARE(m_store->notes().first().title, QStringLiteral("Untitled"));
        QCOMPARE(title->text(), QString());
        QTest::keyClicks(title, QStringLiteral("Plan"));
        QCOMPARE(title->text(), QStringLiteral("Plan"));
        QCOMPARE(m_store->notes().first().title, QStringLiteral("Plan"));
        QCOMPARE(rowTitles(page.get()), QStringList({"Plan"}));

        title->selectAll();
        QTest::keyClick(title, Qt::Key_Backspace);
        body->setFocus();
        QTRY_COMPARE(title->text(), QStringLiteral("Untitled"));
        const QDateTime created = m_store->notes().first().timestamp;
        body->moveCursor(QTextCursor::End);
        QTest::keyClick(body, Qt::Key_Return);
        QTest::keyClicks(body, QStringLiteral("more"));
        QCOMPARE(m_store->notes().first().body, QStringLiteral("body\nmore"));
        QCOMPARE(m_store->notes().first().timestamp, created);
    }

    // Keystrokes reach the disk a moment later; choosing another note, or leaving the page, writes them
    // at once.
    void typedTextIsWrittenWhenTheNoteIsLeft() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        m_store = std::make_unique<NotesStore>(m_dir->path(), &scheduler);
        const NoteEntry first =
            m_store->createNote(QStringLiteral("First"), QString(), QDateTime::currentDateTimeUtc());
        const NoteEntry second =
            m_store->createNote(QStringLiteral("Second"), QString(), QDateTime::currentDateTimeUtc());
        const auto stored = [this](const QUuid& id) {
            return NotesStore(m_dir->path()).note(id).value_or(NoteEntry{});
        };
        auto page = makePage();
        QCOMPARE(m_state->selectedNoteID(), std::optional(second.id));
        auto* title = page->findChild<QLineEdit*>(QStringLiteral("noteTitleField"));
        auto* body = page->findChild<QPlainTextEdit*>(QStringLiteral("noteBodyField"));

        QTest::keyClicks(body, QStringLiteral("draft"));
        QTest::keyClicks(title, QStringLiteral(" plan"));
        QCOMPARE(m_store->note(second.id)->body, QStringLiteral("draft"));
        QCOMPARE(stored(second.id).body, QString()); // not yet on disk

        QList<QWidget*> rows = page->findChildren<QWidget*>(QStringLiteral("noteRow"));
        QWidget* firstRow = *std::find_if(
            rows.begin(), rows.end(), [&](QWidget* r) { return r->property("noteId").toUuid() == first.id; });
        QTest::mouseClick(firstRow, Qt::LeftButton);
        QCOMPARE(m_state->selectedNoteID(), std::optional(first.id));
        QCOMPARE(stored(second.id).body, QStringLiteral("draft"));
        QCOMPARE(stored(second.id).title, QStringLiteral("Second plan"));

        QTest::keyClicks(body, QStringLiteral("more"));
        QCOMPARE(stored(first.id).body, QString());
        page->hide();
        QCOMPARE(stored(first.id).body, QStringLiteral("more"));
        QVERIFY(!m_store->hasUnsavedEdits());
        page.reset();
        m_store.reset(); // before the scheduler it uses
    }

    void gallery() {
        const QString folder = galleryFolder();
        {
            auto page = makePage(1000);
            QVERIFY(page->grab().toImage().save(folder + "/notes-empty.png"));
        }
        for (int i = 0; i < 5; ++i) {
            m_store->createNote(QStringLiteral("Note %1").arg(i),
                                QStringLiteral("First line of %1\nsecond line\nthird").arg(i),
                                QDateTime(QDate(2026, 3, 7), QTime(9 + i, 30), Qt::UTC));
        }
        m_voice->summary = QStringLiteral("Captured 3.2s WAV at recording.wav");
        for (int width : {1000, 640}) {
            auto page = makePage(width);
            const QImage image = page->grab().toImage();
            QVERIFY(image.save(folder + QStringLiteral("/notes-full-%1.png").arg(width)));
            QVERIFY(distinctColours(image) > 16);
        }
    }
};

QTEST_MAIN(TestNotesPage)
#include "tst_notes_page.moc"
