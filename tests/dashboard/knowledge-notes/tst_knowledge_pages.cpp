#include "DashboardState.h"
#include "KnowledgeBaseStore.h"
#include "KnowledgePage.h"
#include "PageTestSupport.h"
#include "RuntimeLogCapture.h"
#include "TextUtilities.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

QStringList texts(const QWidget* root, const QString& name) {
    QStringList result;
    for (const QLabel* label : root->findChildren<QLabel*>(name)) {
        result << label->text();
    }
    return result;
}

QList<QWidget*> rows(const QWidget* page) {
    return widgetsTopToBottom(page, QStringLiteral("row"));
}

bool shown(const QWidget* root, const QString& name) {
    const QWidget* widget = root->findChild<QWidget*>(name);
    return widget && widget->isVisibleTo(root);
}

} // namespace

class TestKnowledgePages : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<KnowledgeBaseStore> m_store;
    std::unique_ptr<DashboardState> m_state;

    KnowledgePage* makePage(bool dictionary) {
        KnowledgePage* page = dictionary ? KnowledgePage::dictionary(*m_store, *m_state)
                                         : KnowledgePage::snippets(*m_store, *m_state);
        page->resize(900, 1400);
        page->show();
        QCoreApplication::processEvents();
        return page;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<KnowledgeBaseStore>(m_dir->path());
        m_state = std::make_unique<DashboardState>();
    }
    void cleanup() {
        m_store.reset();
        m_state.reset();
        m_dir.reset();
    }

    void emptyAndFullLists() {
        std::unique_ptr<KnowledgePage> page(makePage(true));
        QVERIFY(page->findChild<QWidget*>(QStringLiteral("emptyState"))->isVisible());
        QVERIFY(!page->findChild<QWidget*>(QStringLiteral("chipStrip"))->isVisible());
        QVERIFY(
            texts(page.get(), QStringLiteral("emptyTitle")).contains(QStringLiteral("No custom words yet")));

        for (const char* term : {"zeta", "Alpha", "beta", "Gamma", "delta", "epsilon"}) {
            m_store->createDictionaryTerm(QString::fromLatin1(term),
                                          term == QByteArray("beta") ? "a note\nline 2" : "");
        }
        QCoreApplication::processEvents();
        QVERIFY(!page->findChild<QWidget*>(QStringLiteral("emptyState"))->isVisible());
        QCOMPARE(texts(page.get(), QStringLiteral("chip")),
                 QStringList({"Alpha", "beta", "delta", "epsilon", "Gamma"}));
        const auto list = rows(page.get());
        QCOMPARE(list.size(), 6);
        // Every row but the last has a divider; only the row with a note has a subtitle, cut to one line.
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(shown(list[i], QStringLiteral("divider")), i < list.size() - 1);
        }
        QVERIFY(shown(list[1], QStringLiteral("rowSubtitle")));
        QCOMPARE(texts(list[1], QStringLiteral("rowSubtitle")), QStringList({"a note"}));
        QVERIFY(!shown(list[0], QStringLiteral("rowSubtitle")));
    }

    // The trash buttons delete their own entries one by one down to the empty list. The row being
    // deleted holds the button that is still handling the click: the row goes only once the click is
    // over (deleted inside it, Qt reads the freed button on its way out of the click). The rows of the
    // entries left are kept as they were, not rebuilt.
    void trashButtonsDeleteTheirOwnRows_data() {
        QTest::addColumn<bool>("dictionary");
        QTest::addColumn<int>("count");
        QTest::newRow("dictionary, three") << true << 3;
        QTest::newRow("snippets, three") << false << 3;
        QTest::newRow("dictionary, many") << true << 60;
    }
    void trashButtonsDeleteTheirOwnRows() {
        QFETCH(bool, dictionary);
        QFETCH(int, count);
        for (int i = 0; i < count; ++i) {
            const QString key = QStringLiteral("entry %1").arg(i, 3, 10, QLatin1Char('0'));
            dictionary ? (void)m_store->createDictionaryTerm(key, QStringLiteral("note"))
                       : (void)m_store->createSnippet(key, QStringLiteral("value"));
        }
        std::unique_ptr<KnowledgePage> page(makePage(dictionary));
        const auto listed = [&] {
            return dictionary ? m_store->dictionaryTerms().size() : m_store->snippets().size();
        };
        QStringList titles = texts(page.get(), QStringLiteral("rowTitle"));
        titles.sort();
        while (!titles.isEmpty()) {
            QList<QWidget*> before = rows(page.get());
            QCOMPARE(before.size(), titles.size());
            // From the middle of the list, so rows stay on both sides.
            const qsizetype pick = before.size() / 2;
            QWidget* gone = before.takeAt(pick);
            auto* trash = gone->findChild<QToolButton*>(QStringLiteral("deleteButton"));
            const QPointer<QToolButton> alive(trash);
            QTest::mouseClick(trash, Qt::LeftButton);
            // Still there when the click is over, gone once the event loop has run.
            QVERIFY2(alive, "the trash button was deleted while it handled its own click");
            QVERIFY(!alive->isVisibleTo(page.get()));
            titles.removeAt(pick);
            QCOMPARE(listed(), titles.size());
            const QList<QWidget*> after = rows(page.get());
            // (std::equal: Qt 6.4's QList == hands memcmp a null pointer for two empty lists.)
            QVERIFY2(after.size() == before.size() && std::equal(after.begin(), after.end(), before.begin()),
                     "the rows of the entries left were rebuilt");
            QStringList shownTitles;
            for (QWidget* row : after) {
                shownTitles << texts(row, QStringLiteral("rowTitle"));
            }
            QCOMPARE(shownTitles, titles);
            if (!after.isEmpty()) {
                QVERIFY(!shown(after.last(), QStringLiteral("divider")));
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!alive);
        }
        QCOMPARE(listed(), 0);
        QVERIFY(page->findChild<QWidget*>(QStringLiteral("emptyState"))->isVisible());
    }

    void rowActions() {
        const QUuid alpha =
            m_store->createDictionaryTerm(QStringLiteral("Alpha"), QStringLiteral("first\nsecond"));
        m_store->createDictionaryTerm(QStringLiteral("Beta"), QString());
        std::unique_ptr<KnowledgePage> page(makePage(true));
        RuntimeLogCapture log;

        // Blank space of the row opens the editor on its entry, drafts as stored.
        QWidget* first = rows(page.get()).at(0);
        QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2, 8));
        QVERIFY(m_state->showDictionaryEditor());
        QCOMPARE(m_state->editingDictionaryTermID(), std::optional(alpha));
        QCOMPARE(m_state->dictionaryDraftTerm(), QStringLiteral("Alpha"));
        QCOMPARE(m_state->dictionaryDraftNote(), QStringLiteral("first\nsecond"));
        QCOMPARE(log.lines(), QStringList({"Dictionary edit requested id=" + Text::uuidText(alpha)}));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("editorTitle"))->text(),
                 QStringLiteral("Edit word"));

        // The trash button deletes only; the editor is untouched (it turns into the add form, below).
        m_state->setShowDictionaryEditor(false);
        QTest::mouseClick(rows(page.get()).at(1)->findChild<QToolButton*>(QStringLiteral("deleteButton")),
                          Qt::LeftButton);
        QCOMPARE(m_store->dictionaryTerms().size(), 1);
        QVERIFY(!m_state->showDictionaryEditor());

        // "Add new" clears the drafts of an edit.
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("addNewButton")), Qt::LeftButton);
        QCOMPARE(m_state->editingDictionaryTermID(), std::nullopt);
        QCOMPARE(m_state->dictionaryDraftTerm(), QString());
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("editorTitle"))->text(), QStringLiteral("Add word"));
        QCOMPARE(log.lines().last(), QStringLiteral("Dictionary add requested"));
    }

    void editorTyping() {
        std::unique_ptr<KnowledgePage> page(makePage(false));
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("addNewButton")), Qt::LeftButton);
        auto* key = page->findChild<QLineEdit*>(QStringLiteral("keyField"));
        auto* text = page->findChild<QPlainTextEdit*>(QStringLiteral("textField"));
        auto* save = page->findChild<QPushButton*>(QStringLiteral("saveButton"));
        QVERIFY(key->isVisible());
        QVERIFY(!save->isEnabled());
        key->setFocus();
        QTest::keyClicks(key, QStringLiteral("   "));
        QVERIFY(!save->isEnabled());
        QTest::keyClicks(key, QStringLiteral("addr "));
        QVERIFY(save->isEnabled());
        QCOMPARE(m_state->snippetDraftTitle(), QStringLiteral("   addr "));
        // Return and Escape neither save nor close.
        QTest::keyClick(key, Qt::Key_Return);
        QTest::keyClick(key, Qt::Key_Escape);
        QVERIFY(m_state->showSnippetEditor());
        QVERIFY(m_store->snippets().isEmpty());
        QTest::keyClicks(text, QStringLiteral("1 Main St"));
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(m_state->snippetDraftValue(), QStringLiteral("1 Main St\n"));

        // Cancel keeps the drafts; reopening by hand shows them again.
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        QVERIFY(!m_state->showSnippetEditor());
        QCOMPARE(m_state->snippetDraftTitle(), QStringLiteral("   addr "));
        m_state->setShowSnippetEditor(true);
        QCOMPARE(key->text(), QStringLiteral("   addr "));

        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(!m_state->showSnippetEditor());
        QCOMPARE(m_store->snippets().size(), 1);
        QCOMPARE(m_store->snippets().first().title, QStringLiteral("addr"));
        QCOMPARE(m_store->snippets().first().value, QStringLiteral("1 Main St"));
        QCoreApplication::processEvents();
        QCOMPARE(texts(page.get(), QStringLiteral("chip")), QStringList({"\"addr\" -> 1 Main St"}));

        // An edit that changes the first letter moves the row.
        m_store->createSnippet(QStringLiteral("bio"), QString());
        QCoreApplication::processEvents();
        QTest::mouseClick(rows(page.get()).at(0)->findChild<QToolButton*>(QStringLiteral("editButton")),
                          Qt::LeftButton);
        key->selectAll();
        QTest::keyClicks(key, QStringLiteral("zip"));
        QTest::mouseClick(save, Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(texts(page.get(), QStringLiteral("rowTitle")).size(), 2);
        QCOMPARE(m_store->snippets().at(1).title, QStringLiteral("zip"));
        QCOMPARE(m_store->snippets().at(1).value, QStringLiteral("1 Main St"));
    }

    // Deleting the entry being edited turns the editor into the add form with the same drafts, so
    // Save still keeps what was typed.
    void deleteWhileEditing_data() {
        QTest::addColumn<bool>("dictionary");
        QTest::newRow("dictionary") << true;
        QTest::newRow("snippets") << false;
    }
    void deleteWhileEditing() {
        QFETCH(bool, dictionary);
        const QUuid id =
            dictionary ? m_store->createDictionaryTerm(QStringLiteral("Kubernetes"), QStringLiteral("k8s"))
                       : m_store->createSnippet(QStringLiteral("sig"), QStringLiteral("Best"));
        std::unique_ptr<KnowledgePage> page(makePage(dictionary));
        QTest::mouseClick(rows(page.get()).at(0)->findChild<QToolButton*>(QStringLiteral("editButton")),
                          Qt::LeftButton);
        auto* key = page->findChild<QLineEdit*>(QStringLiteral("keyField"));
        key->setFocus();
        QTest::keyClicks(key, QStringLiteral("X"));
        dictionary ? m_store->deleteDictionaryTerm(id) : m_store->deleteSnippet(id);
        QCoreApplication::processEvents();
        auto* editor = page->findChild<QWidget*>(QStringLiteral("editor"));
        QVERIFY(editor->isVisible());
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("editorTitle"))->text(),
                 dictionary ? QStringLiteral("Add word") : QStringLiteral("Add snippet"));
        QCOMPARE(key->text(), dictionary ? QStringLiteral("KubernetesX") : QStringLiteral("sigX"));
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("saveButton")), Qt::LeftButton);
        if (dictionary) {
            QCOMPARE(m_store->dictionaryTerms().size(), 1);
            QCOMPARE(m_store->dictionaryTerms().first().term, QStringLiteral("KubernetesX"));
            QCOMPARE(m_store->dictionaryTerms().first().note, QStringLiteral("k8s"));
        } else {
            QCOMPARE(m_store->snippets().size(), 1);
            QCOMPARE(m_store->snippets().first().title, QStringLiteral("sigX"));
        }
        QVERIFY(!editor->isVisible());
    }

    void gallery() {
        const QString folder = galleryFolder();
        for (bool dictionary : {true, false}) {
            std::unique_ptr<KnowledgePage> page(makePage(dictionary));
            const QString name = dictionary ? QStringLiteral("dictionary") : QStringLiteral("snippets");
            QImage empty = page->grab().toImage();
            QVERIFY(empty.save(folder + "/" + name + "-empty.png"));
            for (int i = 0; i < 7; ++i) {
                dictionary ? (void)m_store->createDictionaryTerm(
                                 QStringLiteral("Term %1").arg(i),
                                 i % 2 ? QStringLiteral("Pronounced like term %1").arg(i) : QString())
                           : (void)m_store->createSnippet(QStringLiteral("trigger %1").arg(i),
                                                          QStringLiteral("Expansion text number %1").arg(i));
            }
            dictionary ? page->openNewEditor() : page->openEditor({m_store->snippets().first().id, {}, {}});
            QCoreApplication::processEvents();
            QImage full = page->grab().toImage();
            QVERIFY(full.save(folder + "/" + name + "-full.png"));
            QVERIFY(distinctColours(full) > 16);
        }
    }
};

QTEST_MAIN(TestKnowledgePages)
#include "tst_knowledge_pages.moc"
