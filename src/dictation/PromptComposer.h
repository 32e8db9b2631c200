#pragma once

#include "PromptCompositionResult.h"
#include "PromptSettings.h"

#include <QMap>
#include <QString>

class AppContextSource;
class KnowledgeBaseSource;

// Builds the transcription prompt: a fixed opening instruction, the frontmost application and its
// category, the user's work domain, the protected vocabulary (first 40 non-blank terms), the knowledge-base
// snippets (first 12 with a title and a value) and the user's own directive. Reads the context and the
// knowledge base afresh on every call; holds no other state. Main thread only.
class PromptComposer {
public:
    static const QString& defaultBasePrompt();
    // Work-domain id -> the name used in the prompt.
    static const QMap<QString, QString>& defaultDomainDisplayNames();

    static constexpr int maxVocabularyTerms = 40;
    static constexpr int maxSnippets = 12;

    PromptComposer(AppContextSource& activeAppContextService, KnowledgeBaseSource& knowledgeBaseStore,
                   QString basePrompt = defaultBasePrompt(),
                   QMap<QString, QString> domainDisplayNames = defaultDomainDisplayNames());

    // The prompt and the context it describes (read once). Logs the prompt's length and the context's
    // category, never the prompt itself.
    PromptCompositionResult composePrompt(const PromptSettings& settings) const;

    AppContextSource& activeAppContextService() const { return m_context; }

    // The sentence that describes a category ("code", "browser", ...), with its leading blank; empty for
    // any other id.
    static QString categoryContext(const QString& category);

private:
    QString resolveDomainDisplay(const PromptSettings& settings) const;

    AppContextSource& m_context;
    KnowledgeBaseSource& m_knowledgeBase;
    QString m_basePrompt;
    QMap<QString, QString> m_domainDisplayNames;
};
