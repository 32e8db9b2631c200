#include "PromptComposer.h"

#include "ActiveAppContextService.h"
#include "AppLogger.h"
#include "DictationServices.h"
#include "TextUtilities.h"

#include <QStringList>

const QString& PromptComposer::defaultBasePrompt() {
    static const QString prompt = QStringLiteral(
        "Transcribe and format the audio intelligently. Never hallucinate or invent words that were not "
        "spoken. "
        "Remove filler words and disfluencies. When the speaker corrects themselves, output only the final "
        "wording. Format code with proper indentation, emails with appropriate structure, and preserve exact "
        "terminology from the Knowledge Base.");
    return prompt;
}

const QMap<QString, QString>& PromptComposer::defaultDomainDisplayNames() {
    static const QMap<QString, QString> names{
        {QStringLiteral("general"), QStringLiteral("General / Other")},
        {QStringLiteral("software_engineering"), QStringLiteral("Software Engineering")},
        {QStringLiteral("finance"), QStringLiteral("Finance & Trading")},
        {QStringLiteral("medical"), QStringLiteral("Medical & Clinical")},
        {QStringLiteral("legal"), QStringLiteral("Legal & Compliance")},
    };
    return names;
}

PromptComposer::PromptComposer(AppContextSource& activeAppContextService,
                               KnowledgeBaseSource& knowledgeBaseStore, QString basePrompt,
                               QMap<QString, QString> domainDisplayNames)
    : m_context(activeAppContextService), m_knowledgeBase(knowledgeBaseStore),
      m_basePrompt(std::move(basePrompt)), m_domainDisplayNames(std::move(domainDisplayNames)) {}

QString PromptComposer::categoryContext(const QString& category) {
    static const QList<std::pair<QString, QString>> sentences{
        {"code",
         " User may be dictating code, APIs, or debugging notes. Preserve syntax and technical naming."},
        {"browser", " User may be dictating URLs, search queries, or web content. Format URLs and web "
                    "terminology carefully."},
        {"office", " User may be dictating business documents or emails. Use business-friendly formatting."},
        {"communication", " User is likely dictating a message. Use natural conversational formatting."},
        {"terminal", " User may be dictating shell commands or paths. Preserve exact syntax."},
        {"notes", " User is likely taking notes. Use clear, organized note formatting."},
        {"finance",
         " User is working in a finance-oriented app. Preserve financial terminology and numeric precision."},
        {"vdi", " User is working in a remote desktop environment. Use professional formatting and avoid "
                "over-assuming the active tool."},
    };
    for (const auto& [id, sentence] : sentences) {
        if (id == category) {
            return sentence;
        }
    }
    return {};
}

QString PromptComposer::resolveDomainDisplay(const PromptSettings& settings) const {
    if (settings.workDomainSelection == QLatin1String("custom")) {
        return Text::trimmed(settings.workDomainCustom);
    }
    return m_domainDisplayNames.value(settings.workDomainSelection, QStringLiteral("General / Other"));
}

PromptCompositionResult PromptComposer::composePrompt(const PromptSettings& settings) const {
    const ActiveAppContext context = m_context.currentContext();
    const QString domain = resolveDomainDisplay(settings);

    QString prompt = m_basePrompt + QStringLiteral(" CONTEXT: User is currently in ") + context.appName;
    if (context.windowTitle != ActiveAppContextService::unknownWindow) {
        prompt += QStringLiteral(" (window: ") + context.windowTitle + QStringLiteral(")");
    }
    prompt += QLatin1Char('.');
    if (context.category) {
        prompt += categoryContext(*context.category);
    }
    if (!domain.isEmpty()) {
        prompt += QStringLiteral(" User is working in ") + domain +
                  QStringLiteral(". Use the terminology and conventions professionals in this field expect.");
    }

    QStringList terms;
    for (const DictionaryTerm& term : m_knowledgeBase.dictionaryTerms()) {
        const QString trimmed = Text::trimmed(term.term);
        if (!trimmed.isEmpty()) {
            terms << trimmed;
            if (terms.size() == maxVocabularyTerms) {
                break;
            }
        }
    }
    if (!terms.isEmpty()) {
        prompt += QStringLiteral("\n\nPROTECTED VOCABULARY:\n") + terms.join(QStringLiteral(", "));
    }

    QStringList snippetLines;
    for (const KnowledgeSnippet& snippet : m_knowledgeBase.snippets()) {
        if (!Text::trimmed(snippet.title).isEmpty() && !Text::trimmed(snippet.value).isEmpty()) {
            snippetLines << snippet.title + QStringLiteral(": ") + snippet.value;
            if (snippetLines.size() == maxSnippets) {
                break;
            }
        }
    }
    if (!snippetLines.isEmpty()) {
        prompt += QStringLiteral("\n\nKNOWLEDGE BASE SNIPPETS:\n") + snippetLines.join(QLatin1Char('\n'));
    }

    const QString directive = Text::trimmed(settings.customPrompt);
    if (!directive.isEmpty()) {
        prompt += QStringLiteral("\n\nCUSTOM SYSTEM DIRECTIVE:\n") + directive;
    }

    // The prompt carries the user's vocabulary, snippets and instructions: only its size reaches the log.
    AppLogger::info(QStringLiteral("Prompt composed category=") +
                    context.category.value_or(QStringLiteral("none")) + QStringLiteral(" chars=") +
                    QString::number(Text::graphemeCount(prompt)));
    return {prompt, context};
}
