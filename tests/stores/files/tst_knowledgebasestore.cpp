#include "KnowledgeBaseStore.h"
#include "StoreTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>

using namespace storetest;

namespace {

const QString kFile = QStringLiteral("knowledge-base.json");

QStringList titles(const KnowledgeBaseStore& store) {
    QStringList result;
    for (const KnowledgeSnippet& snippet : store.snippets()) {
        result << snippet.title;
    }
    return result;
}

QStringList terms(const KnowledgeBaseStore& store) {
    QStringList result;
    for (const DictionaryTerm& term : store.dictionaryTerms()) {
        result << term.term;
    }
    return result;
}

QString updatedLine(const QString& reason, int snippets, int dictionary) {
    return QStringLiteral("INFO Knowledge base updated reason=%1 snippets=%2 dictionary=%3")
        .arg(reason)
        .arg(snippets)
        .arg(dictionary);
}

} // namespace

class TestKnowledgeBaseStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Fixture::setUpProcess(m_runtime.path()); }
    void init() { m_fixture.start(); }
    void cleanup() { m_fixture.stop(); }

    void roundTripThroughTheFile() {
        QList<KnowledgeSnippet> snippets;
        QList<DictionaryTerm> terms;
        {
            KnowledgeBaseStore store(m_fixture.folder());
            QSignalSpy snippetsChanged(&store, &KnowledgeBaseStore::snippetsChanged);
            QSignalSpy termsChanged(&store, &KnowledgeBaseStore::dictionaryTermsChanged);
            store.createSnippet(QStringLiteral("sig"), QStringLiteral("Best,\n  Ana \"A\" Müller 🎉"));
            store.createSnippet(QStringLiteral(" Address "), QString());
            store.createDictionaryTerm(QStringLiteral("Kubernetes"), QString());
            store.createDictionaryTerm(QStringLiteral("Zoë"), QStringLiteral("name"));
            QCOMPARE(snippetsChanged.count(), 2);
            QCOMPARE(termsChanged.count(), 2);
            snippets = store.snippets();
            terms = store.dictionaryTerms();
        }
        takeLog();

        // Compact, both members, ids as upper-case UUID text, lists in memory order.
        const QByteArray text = readFile(m_fixture.path(kFile));
        QVERIFY(!text.contains('\n') && !text.contains(": "));
        const QJsonObject root = QJsonDocument::fromJson(text).object();
        QCOMPARE(root.keys(), QStringList({"dictionary", "snippets"}));
        const QJsonObject first = root.value("snippets").toArray().at(0).toObject();
        QCOMPARE(first.value("id").toString(), snippets.at(0).id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(first.value("title").toString(), QStringLiteral(" Address "));
        QCOMPARE(root.value("dictionary").toArray().at(0).toObject().value("note"), QJsonValue(QString()));

        KnowledgeBaseStore reloaded(m_fixture.folder());
        QCOMPARE(reloaded.snippets(), snippets);
        QCOMPARE(reloaded.dictionaryTerms(), terms);
        QCOMPARE(takeLog(), QStringList{"INFO Loaded knowledge base snippets=2 dictionary=2"});
    }

    void fileIsReadInAnyCaseAndMemberOrderAndKeepsItsOrder() {
        writeFile(
            m_fixture.path(kFile),
            R"({"extra":1,"dictionary":[{"note":"","term":"b","id":"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"}],)"
            R"("snippets":[{"value":"2","title":"zeta","id":"00000000-0000-0000-0000-000000000002"},)"
            R"({"title":"alpha","value":"1","id":"00000000-0000-0000-0000-000000000001"}]})");
        KnowledgeBaseStore store(m_fixture.folder());
        QCOMPARE(titles(store), QStringList({"zeta", "alpha"})); // loading does not sort
        QCOMPARE(store.dictionaryTerms().at(0).id,
                 QUuid::fromString(QStringLiteral("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE")));

        // Nor does a delete; the next create does.
        store.deleteSnippet(QUuid::createUuid());
        QCOMPARE(titles(store), QStringList({"zeta", "alpha"}));
        store.createSnippet(QStringLiteral("mid"), QString());
        QCOMPARE(titles(store), QStringList({"alpha", "mid", "zeta"}));
    }

    void anEditAnnouncesEveryListThatMoved_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("snippetSignals");
        QTest::addColumn<int>("termSignals");
        // The file holds both lists out of order; one edit sorts both.
        QTest::newRow("create snippet") << "create snippet" << 1 << 1;
        QTest::newRow("update snippet") << "update snippet" << 1 << 1;
        QTest::newRow("create term") << "create term" << 1 << 1;
        QTest::newRow("update term") << "update term" << 1 << 1;
        QTest::newRow("second edit: the other list is in order already") << "twice" << 2 << 1;
    }
    void anEditAnnouncesEveryListThatMoved() {
        QFETCH(QString, edit);
        QFETCH(int, snippetSignals);
        QFETCH(int, termSignals);
        writeFile(m_fixture.path(kFile),
                  R"({"snippets":[{"id":"00000000-0000-0000-0000-000000000002","title":"b","value":""},)"
                  R"({"id":"00000000-0000-0000-0000-000000000001","title":"a","value":""}],)"
                  R"("dictionary":[{"id":"00000000-0000-0000-0000-000000000004","term":"y","note":""},)"
                  R"({"id":"00000000-0000-0000-0000-000000000003","term":"x","note":""}]})");
        KnowledgeBaseStore store(m_fixture.folder());
        QSignalSpy snippetsChanged(&store, &KnowledgeBaseStore::snippetsChanged);
        QSignalSpy termsChanged(&store, &KnowledgeBaseStore::dictionaryTermsChanged);
        const QUuid snippetB = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-000000000002"));
        const QUuid termY = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-000000000004"));

        if (edit == "create snippet") {
            store.createSnippet(QStringLiteral("c"), QString());
        } else if (edit == "update snippet") {
            store.updateSnippet(snippetB, QStringLiteral("b"), QStringLiteral("new value"));
        } else if (edit == "create term") {
            store.createDictionaryTerm(QStringLiteral("z"), QString());
        } else if (edit == "update term") {
            store.updateDictionaryTerm(termY, QStringLiteral("y"), QStringLiteral("note"));
        } else {
            store.updateSnippet(snippetB, QStringLiteral("b"), QString());
            store.updateSnippet(snippetB, QStringLiteral("b"), QString());
        }

        QCOMPARE(snippetsChanged.count(), snippetSignals);
        QCOMPARE(termsChanged.count(), termSignals);
        QCOMPARE(titles(store).mid(0, 2), QStringList({"a", "b"}));
        QCOMPARE(terms(store).mid(0, 2), QStringList({"x", "y"}));
    }

    void sortOrder_data() {
        QTest::addColumn<QStringList>("created");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("case and blanks ignored, ties keep creation order")
            << QStringList{"b", "Apple", " apple", "APPLE\n"}
            << QStringList{"Apple", " apple", "APPLE\n", "b"};
        QTest::newRow("leading blank sorts by its first visible character")
            << QStringList{"  zebra", "yak"} << QStringList{"yak", "  zebra"};
        QTest::newRow("no numeric ordering") << QStringList{"9", "10", "1"} << QStringList{"1", "10", "9"};
        QTest::newRow("no locale rules")
            << QStringList{"ärger", "zebra", "ab"} << QStringList{"ab", "zebra", "ärger"};
        // U+FF21 (fullwidth A, key U+FF41) is below U+1F600 by code point, above it by UTF-16 unit.
        QTest::newRow("code points, not UTF-16 units")
            << QStringList{QStringLiteral("\U0001F600 grin"), QStringLiteral("\uFF21 wide")}
            << QStringList{QStringLiteral("\uFF21 wide"), QStringLiteral("\U0001F600 grin")};
        // A decomposed é composes to U+00E9 and sorts after "f" (its first unit alone would be "e").
        QTest::newRow("canonically composed forms")
            << QStringList{QStringLiteral("e\u0301t\u00e9"), QStringLiteral("f"),
                           QStringLiteral("\u00e9t\u00e9")}
            << QStringList{QStringLiteral("f"), QStringLiteral("e\u0301t\u00e9"),
                           QStringLiteral("\u00e9t\u00e9")};
    }

    void sortOrder() {
        QFETCH(QStringList, created);
        QFETCH(QStringList, sorted);
        KnowledgeBaseStore store(m_fixture.folder());
        for (const QString& text : created) {
            store.createSnippet(text, QStringLiteral("v"));
            store.createDictionaryTerm(text, QString());
        }
        QCOMPARE(titles(store), sorted);
        QCOMPARE(terms(store), sorted);

        // An update re-sorts too.
        store.updateSnippet(store.snippets().first().id, QStringLiteral("\U0010FFFF last"), QString());
        QCOMPARE(titles(store).last(), QStringLiteral("\U0010FFFF last"));
    }

    void editsPersistLogAndNotify() {
        KnowledgeBaseStore store(m_fixture.folder());
        int changes = 0;
        store.onChange = [&] { ++changes; };

        const QUuid snippet = store.createSnippet(QStringLiteral("a"), QStringLiteral("1"));
        const QUuid term = store.createDictionaryTerm(QStringLiteral("t"), QStringLiteral("n"));
        store.updateSnippet(snippet, QStringLiteral("b"), QStringLiteral("2"));
        store.updateDictionaryTerm(term, QStringLiteral("u"), QString());
        QCOMPARE(changes, 4);
        QCOMPARE(store.snippets(), QList<KnowledgeSnippet>({{snippet, "b", "2"}}));
        QCOMPARE(store.dictionaryTerms(), QList<DictionaryTerm>({{term, "u", ""}}));

        // An update of an unknown id does nothing at all.
        const QByteArray before = readFile(m_fixture.path(kFile));
        QFile::remove(m_fixture.path(kFile));
        takeLog();
        store.updateSnippet(QUuid::createUuid(), QStringLiteral("x"), QStringLiteral("x"));
        store.updateDictionaryTerm(QUuid::createUuid(), QStringLiteral("x"), QStringLiteral("x"));
        QCOMPARE(changes, 4);
        QCOMPARE(takeLog(), QStringList());
        QVERIFY(!QFileInfo::exists(m_fixture.path(kFile)));

        // A delete of an unknown id is saved, logged and notified like any delete.
        store.deleteDictionaryTerm(QUuid::createUuid());
        QCOMPARE(changes, 5);
        QCOMPARE(readFile(m_fixture.path(kFile)), before);
        store.deleteSnippet(snippet);
        store.deleteDictionaryTerm(term);
        QCOMPARE(changes, 7);
        QCOMPARE(readFile(m_fixture.path(kFile)), QByteArray(R"({"dictionary":[],"snippets":[]})"));
        QCOMPARE(takeLog(),
                 QStringList({updatedLine("dictionary_delete", 1, 1), updatedLine("snippet_delete", 0, 1),
                              updatedLine("dictionary_delete", 0, 0)}));
    }

    void logReasonsOfEveryEdit() {
        KnowledgeBaseStore store(m_fixture.folder());
        const QUuid snippet = store.createSnippet(QStringLiteral("a"), QString());
        store.updateSnippet(snippet, QStringLiteral("a"), QString());
        const QUuid term = store.createDictionaryTerm(QStringLiteral("t"), QString());
        store.updateDictionaryTerm(term, QStringLiteral("t"), QString());
        QCOMPARE(takeLog(),
                 QStringList({updatedLine("snippet_add", 1, 0), updatedLine("snippet_update", 1, 0),
                              updatedLine("dictionary_add", 1, 1), updatedLine("dictionary_update", 1, 1)}));
    }

    void mergeAddsOnlyNewKeysAndNeverNotifies() {
        KnowledgeBaseStore store(m_fixture.folder());
        int changes = 0;
        store.onChange = [&] { ++changes; };
        const QUuid local = store.createSnippet(QStringLiteral("Hello"), QStringLiteral("local"));
        store.createSnippet(QStringLiteral("Caf\u00e9"), QStringLiteral("local"));
        store.createDictionaryTerm(QStringLiteral("Quillvane"), QStringLiteral("local note"));
        changes = 0;
        takeLog();
        QSignalSpy snippetsChanged(&store, &KnowledgeBaseStore::snippetsChanged);

        const bool added = store.mergeRemote(
            {{QStringLiteral("  hello\t"), QStringLiteral("remote")},  // same key as a local one
             {QStringLiteral("Cafe\u0301"), QStringLiteral("remote")}, // canonically equal key
             {QStringLiteral(" \n "), QStringLiteral("has a value")},  // blank title
             {QStringLiteral(" New "), QStringLiteral("1")},           // new, added as received
             {QStringLiteral("new"), QStringLiteral("2")}},            // same new key: also added
            {{QStringLiteral("QUILLVANE"), QStringLiteral("remote")},
             {QStringLiteral("   "), std::nullopt},
             {QStringLiteral("Zed"), std::nullopt}});

        QVERIFY(added);
        QCOMPARE(changes, 0);
        QCOMPARE(snippetsChanged.count(), 1);
        QCOMPARE(titles(store), QStringList({"Caf\u00e9", "Hello", " New ", "new"}));
        QCOMPARE(store.snippets().at(1), (KnowledgeSnippet{local, "Hello", "local"}));
        QCOMPARE(terms(store), QStringList({"Quillvane", "Zed"}));
        QCOMPARE(store.dictionaryTerms().at(0).note, QStringLiteral("local note"));
        QCOMPARE(store.dictionaryTerms().at(1).note, QString());
        QCOMPARE(takeLog(), QStringList{updatedLine("remote_merge", 4, 2)});
        QCOMPARE(KnowledgeBaseStore(m_fixture.folder()).snippets(), store.snippets());

        // The callback is back for the next edit.
        store.createSnippet(QStringLiteral("after"), QString());
        QCOMPARE(changes, 1);
    }

    void mergeWithNothingNewOnlySorts() {
        const QByteArray unsorted =
            R"({"snippets":[{"id":"00000000-0000-0000-0000-000000000002","title":"b","value":""},)"
            R"({"id":"00000000-0000-0000-0000-000000000001","title":"a","value":""}],"dictionary":[]})";
        writeFile(m_fixture.path(kFile), unsorted);
        KnowledgeBaseStore store(m_fixture.folder());
        int changes = 0;
        store.onChange = [&] { ++changes; };
        takeLog();

        QVERIFY(!store.mergeRemote({{QStringLiteral("A"), QStringLiteral("remote")}},
                                   {{QStringLiteral(" "), {}}}));
        QVERIFY(!store.mergeRemote({}, {}));
        QCOMPARE(titles(store), QStringList({"a", "b"}));
        QCOMPARE(store.snippets().at(0).value, QString());
        QCOMPARE(changes, 0);
        QCOMPARE(takeLog(), QStringList());
        QCOMPARE(readFile(m_fixture.path(kFile)), unsorted);
    }

    void exportsLeaveOutBlankKeys() {
        KnowledgeBaseStore store(m_fixture.folder());
        store.createSnippet(QStringLiteral("  "), QStringLiteral("value of a blank title"));
        store.createSnippet(QStringLiteral(" sig "), QStringLiteral(" v "));
        store.createDictionaryTerm(QStringLiteral("\t"), QStringLiteral("n"));
        store.createDictionaryTerm(QStringLiteral("a"), QString());
        store.createDictionaryTerm(QStringLiteral("b"), QStringLiteral("  "));

        const QList<SnippetDTO> snippets = store.snippetDTOs();
        QCOMPARE(snippets.size(), 1);
        QCOMPARE(snippets.at(0).title, QStringLiteral(" sig "));
        QCOMPARE(snippets.at(0).value, QStringLiteral(" v "));
        QCOMPARE(toJsonText(store.dictionaryDTOs()),
                 QByteArray(R"([{"term":"a"},{"note":"  ","term":"b"}])"));
    }

    void failedSaveKeepsTheChangeAndStillLogsAndNotifies() {
        writeFile(m_fixture.folder(), "a file where the folder should be");
        KnowledgeBaseStore store(m_fixture.folder());
        int changes = 0;
        store.onChange = [&] { ++changes; };
        store.createDictionaryTerm(QStringLiteral("kept"), QString());
        QCOMPARE(terms(store), QStringList{"kept"});
        QCOMPARE(changes, 1);
        const QStringList log = takeLog();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(0).startsWith(QStringLiteral("ERROR Failed to save knowledge base store: ")),
                 qPrintable(log.at(0)));
        QCOMPARE(log.at(1), updatedLine("dictionary_add", 0, 1));
    }

    void unreadableEntriesAreLeftOutAndTheFileSetAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("keptTerms");
        QTest::addColumn<int>("leftOut"); // 0: nothing could be read
        const QByteArray good = R"({"id":"00000000-0000-0000-0000-000000000001","term":"t","note":""})";
        QTest::newRow("no dictionary member") << QByteArray(R"({"snippets":[]})") << 0 << 0;
        QTest::newRow("note missing")
            << QByteArray(R"({"snippets":[],"dictionary":[)" + good +
                          R"(,{"id":"00000000-0000-0000-0000-000000000002","term":"u"}]})")
            << 1 << 1;
        QTest::newRow("malformed snippet id")
            << QByteArray(R"({"snippets":[{"id":"not-a-uuid","title":"t","value":""}],"dictionary":[)" +
                          good + "]}")
            << 1 << 1;
        QTest::newRow("title of the wrong kind")
            << QByteArray(
                   R"({"snippets":[{"id":"00000000-0000-0000-0000-000000000001","title":5,"value":""}],"dictionary":[]})")
            << 0 << 1;
        QTest::newRow("an array at the top") << QByteArray("[]") << 0 << 0;
        QTest::newRow("not JSON") << QByteArray("{\"snippets\":") << 0 << 0;
    }

    void unreadableEntriesAreLeftOutAndTheFileSetAside() {
        QFETCH(QByteArray, content);
        QFETCH(int, keptTerms);
        QFETCH(int, leftOut);
        writeFile(m_fixture.path(kFile), content);
        const QString aside = m_fixture.path(kFile) + kCorruptSuffix;
        KnowledgeBaseStore store(m_fixture.folder());
        QVERIFY(store.snippets().isEmpty());
        QCOMPARE(store.dictionaryTerms().size(), keptTerms);
        const QString problem =
            setAsideLogProblem(takeLog(), QStringLiteral("knowledge base store"), aside, leftOut);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(readFile(aside), content);
        QCOMPARE(KnowledgeBaseStore(m_fixture.folder()).dictionaryTerms(), store.dictionaryTerms());

        store.createSnippet(QStringLiteral("fresh"), QString());
        QCOMPARE(KnowledgeBaseStore(m_fixture.folder()).snippets(), store.snippets());
        QCOMPARE(readFile(aside), content);
    }

private:
    QTemporaryDir m_runtime;
    Fixture m_fixture;
};

QTEST_GUILESS_MAIN(TestKnowledgeBaseStore)
#include "tst_knowledgebasestore.moc"
