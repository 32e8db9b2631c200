// The transcription prompt: the context sentence, category and domain, the vocabulary, snippet and
// directive blocks with their limits, and a log line that keeps the prompt's content out of the log.

#include "DictationFakes.h"
#include "RuntimeLogCapture.h"

#include <QTest>

using namespace fakes;

namespace {

const QString kBase = PromptComposer::defaultBasePrompt();

PromptSettings plainSettings(const QString& domain = QStringLiteral("general"), const QString& custom = {}) {
    PromptSettings settings;
    settings.workDomainSelection = domain;
    settings.workDomainCustom = custom;
    settings.customPrompt.clear();
    return settings;
}

DictionaryTerm term(const QString& text) {
    return DictionaryTerm{QUuid::createUuid(), text, QStringLiteral("a note that is never sent")};
}

KnowledgeSnippet snippet(const QString& title, const QString& value) {
    return KnowledgeSnippet{QUuid::createUuid(), title, value};
}

} // namespace

class TestPromptComposer : public QObject {
    Q_OBJECT

    FakeContext m_context;
    FakeKnowledgeBase m_knowledgeBase;

private slots:
    void init() {
        m_context = FakeContext();
        m_knowledgeBase = FakeKnowledgeBase();
    }

    void basePromptIsTheFixedInstruction() {
        QCOMPARE(kBase.size(), 337);
        QVERIFY(kBase.startsWith(QStringLiteral("Transcribe and format the audio intelligently.")));
        QVERIFY(kBase.endsWith(QStringLiteral("preserve exact terminology from the Knowledge Base.")));
    }

    void contextSentence_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<std::optional<QString>>("category");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("customDomain");
        QTest::addColumn<QString>("sentence");
        using S = std::optional<QString>;
        const QString general = " User is working in General / Other. Use the terminology and conventions "
                                "professionals in this field expect.";
        QTest::newRow("title and category")
            << "main.cpp" << S("code") << "software_engineering"
            << ""
            << " CONTEXT: User is currently in Kate (window: main.cpp). User may be dictating code, APIs, or "
               "debugging notes. Preserve syntax and technical naming. User is working in Software "
               "Engineering. Use "
               "the terminology and conventions professionals in this field expect.";
        QTest::newRow("unknown window") << "Unknown Window" << S() << "general"
                                        << ""
                                        << " CONTEXT: User is currently in Kate." + general;
        QTest::newRow("unknown window in another case is a title")
            << "unknown window" << S() << "general"
            << ""
            << " CONTEXT: User is currently in Kate (window: unknown window)." + general;
        QTest::newRow("title kept as it is")
            << "  draft  " << S("design") << "general"
            << ""
            << " CONTEXT: User is currently in Kate (window:   draft  )." + general;
        QTest::newRow("remote desktop")
            << "x" << S("vdi") << "legal"
            << ""
            << " CONTEXT: User is currently in Kate (window: x). User is working in a "
               "remote desktop environment. Use professional formatting and avoid "
               "over-assuming the active tool. User is working in Legal & Compliance. "
               "Use the terminology and conventions professionals in this field expect.";
        QTest::newRow("category in another case")
            << "x" << S("Code") << "general"
            << ""
            << " CONTEXT: User is currently in Kate (window: x)." + general;
        QTest::newRow("unlisted domain") << "x" << S() << "architecture"
                                         << ""
                                         << " CONTEXT: User is currently in Kate (window: x)." + general;
        QTest::newRow("custom domain, blanks only") << "x" << S() << "custom"
                                                    << " \n "
                                                    << " CONTEXT: User is currently in Kate (window: x).";
        QTest::newRow("custom domain trimmed")
            << "x" << S("terminal") << "custom"
            << "  Kubernetes  "
            << " CONTEXT: User is currently in Kate (window: x). User may be dictating shell commands or "
               "paths. "
               "Preserve exact syntax. User is working in Kubernetes. Use the terminology and conventions "
               "professionals in this field expect.";
    }
    void contextSentence() {
        QFETCH(QString, title);
        QFETCH(std::optional<QString>, category);
        QFETCH(QString, domain);
        QFETCH(QString, customDomain);
        QFETCH(QString, sentence);
        m_context.context.windowTitle = title;
        m_context.context.category = category;
        const PromptComposer composer(m_context, m_knowledgeBase);
        const PromptCompositionResult result = composer.composePrompt(plainSettings(domain, customDomain));
        QCOMPARE(result.prompt, kBase + sentence);
        QCOMPARE(result.context, m_context.context);
        QCOMPARE(m_context.reads, 1);
    }

    void blocksFollowInOrder() {
        m_knowledgeBase.terms = {term(" Kubernetes "), term("Zephyr\n")};
        m_knowledgeBase.snippetList = {snippet(" sig ", "Best, Ana"), snippet("addr", " 1 Main St ")};
        PromptSettings settings = plainSettings(QStringLiteral("finance"));
        settings.customPrompt = QStringLiteral("\n  Use British spelling.  \n");
        const PromptComposer composer(m_context, m_knowledgeBase);
        QCOMPARE(composer.composePrompt(settings).prompt,
                 kBase + " CONTEXT: User is currently in Kate (window: notes.txt). User may be dictating "
                         "code, APIs, or "
                         "debugging notes. Preserve syntax and technical naming. User is working in Finance "
                         "& Trading. "
                         "Use the terminology and conventions professionals in this field expect."
                         "\n\nPROTECTED VOCABULARY:\nKubernetes, Zephyr"
                         "\n\nKNOWLEDGE BASE SNIPPETS:\n sig : Best, Ana\naddr:  1 Main St "
                         "\n\nCUSTOM SYSTEM DIRECTIVE:\nUse British spelling.");
    }

    void limitsCountOnlyUsableEntries() {
        for (int i = 0; i < 45; ++i) {
            m_knowledgeBase.terms << term(i % 15 == 0 ? QStringLiteral("  ") : QStringLiteral("t%1").arg(i));
        }
        for (int i = 0; i < 14; ++i) {
            m_knowledgeBase.snippetList
                << snippet(QStringLiteral("s%1").arg(i), i == 2 ? QStringLiteral(" ") : "v");
        }
        const PromptComposer composer(m_context, m_knowledgeBase);
        const QString prompt = composer.composePrompt(plainSettings()).prompt;
        const QString vocabulary =
            prompt.section(QStringLiteral("PROTECTED VOCABULARY:\n"), 1).section('\n', 0, 0);
        const QStringList terms = vocabulary.split(QStringLiteral(", "));
        QCOMPARE(terms.size(), 40);
        QCOMPARE(vocabulary.count(','), 39);
        QCOMPARE(terms.first(), QStringLiteral("t1"));
        QCOMPARE(terms.last(), QStringLiteral("t42")); // 3 blanks among the first 43
        const QStringList snippets =
            prompt.section(QStringLiteral("KNOWLEDGE BASE SNIPPETS:\n"), 1).split('\n');
        QCOMPARE(snippets.size(), 12);
        QVERIFY(!snippets.contains(QStringLiteral("s2:  ")));
        QCOMPARE(snippets.last(), QStringLiteral("s12: v"));
    }

    void emptyBlocksHaveNoHeading() {
        m_knowledgeBase.terms = {term(" "), term("\n")};
        m_knowledgeBase.snippetList = {snippet("title", ""), snippet("  ", "value")};
        PromptSettings settings = plainSettings();
        settings.customPrompt = QStringLiteral("\n\n");
        const PromptComposer composer(m_context, m_knowledgeBase);
        const QString prompt = composer.composePrompt(settings).prompt;
        QVERIFY2(!prompt.contains('\n'), qPrintable(prompt));
    }

    // The prompt carries the user's vocabulary, snippets and instructions: the log gets its size only.
    void logsTheSizeNeverTheContent() {
        RuntimeLogCapture log;
        m_knowledgeBase.terms = {term("Zanzibar")};
        m_knowledgeBase.snippetList = {snippet("pin", "4417")};
        PromptSettings settings = plainSettings();
        settings.customPrompt = QStringLiteral("Confidential directive");
        const PromptComposer composer(m_context, m_knowledgeBase);
        const QString prompt = composer.composePrompt(settings).prompt;
        QCOMPARE(
            log.entries(),
            QStringList{QStringLiteral("INFO Prompt composed category=code chars=%1").arg(prompt.size())});
        m_context.context.category.reset();
        log.clear();
        composer.composePrompt(settings);
        QVERIFY(
            log.entries().first().startsWith(QStringLiteral("INFO Prompt composed category=none chars=")));
    }
};

QTEST_GUILESS_MAIN(TestPromptComposer)
#include "tst_prompt_composer.moc"
