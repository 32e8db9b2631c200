#include "KnowledgeDraft.h"

#include "DashboardState.h"

KnowledgeDraft::KnowledgeDraft(DashboardState& state, Kind kind, QObject* parent)
    : QObject(parent), m_state(state), m_kind(kind) {
    if (kind == Kind::Dictionary) {
        connect(&state, &DashboardState::editingDictionaryTermIDChanged, this,
                &KnowledgeDraft::editingIdChanged);
        connect(&state, &DashboardState::dictionaryDraftTermChanged, this, &KnowledgeDraft::keyChanged);
        connect(&state, &DashboardState::dictionaryDraftNoteChanged, this, &KnowledgeDraft::textChanged);
        connect(&state, &DashboardState::showDictionaryEditorChanged, this, &KnowledgeDraft::shownChanged);
    } else {
        connect(&state, &DashboardState::editingSnippetIDChanged, this, &KnowledgeDraft::editingIdChanged);
        connect(&state, &DashboardState::snippetDraftTitleChanged, this, &KnowledgeDraft::keyChanged);
        connect(&state, &DashboardState::snippetDraftValueChanged, this, &KnowledgeDraft::textChanged);
        connect(&state, &DashboardState::showSnippetEditorChanged, this, &KnowledgeDraft::shownChanged);
    }
}

std::optional<QUuid> KnowledgeDraft::editingId() const {
    return m_kind == Kind::Dictionary ? m_state.editingDictionaryTermID() : m_state.editingSnippetID();
}

QString KnowledgeDraft::key() const {
    return m_kind == Kind::Dictionary ? m_state.dictionaryDraftTerm() : m_state.snippetDraftTitle();
}

QString KnowledgeDraft::text() const {
    return m_kind == Kind::Dictionary ? m_state.dictionaryDraftNote() : m_state.snippetDraftValue();
}

bool KnowledgeDraft::shown() const {
    return m_kind == Kind::Dictionary ? m_state.showDictionaryEditor() : m_state.showSnippetEditor();
}

void KnowledgeDraft::setEditingId(const std::optional<QUuid>& id) {
    m_kind == Kind::Dictionary ? m_state.setEditingDictionaryTermID(id) : m_state.setEditingSnippetID(id);
}

void KnowledgeDraft::setKey(const QString& key) {
    m_kind == Kind::Dictionary ? m_state.setDictionaryDraftTerm(key) : m_state.setSnippetDraftTitle(key);
}

void KnowledgeDraft::setText(const QString& text) {
    m_kind == Kind::Dictionary ? m_state.setDictionaryDraftNote(text) : m_state.setSnippetDraftValue(text);
}

void KnowledgeDraft::setShown(bool shown) {
    m_kind == Kind::Dictionary ? m_state.setShowDictionaryEditor(shown) : m_state.setShowSnippetEditor(shown);
}
