#pragma once

#include "APIModels.h"
#include "AppSection.h"
#include "DashboardHotkeyCaptureIntent.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

// The view-local state of one dashboard window: which section is shown, the drafts of the inline editors,
// which sheet is open and the status sentences. Pages read and write it; nothing here is persisted. Every
// field has its own change signal, emitted only when the value really changes. Main thread only.
class DashboardState final : public QObject {
    Q_OBJECT

public:
    explicit DashboardState(QObject* parent = nullptr) : QObject(parent) {}

    const std::optional<AppSection>& selectedSection() const { return m_selectedSection; }
    void setSelectedSection(const std::optional<AppSection>& value) {
        assign(m_selectedSection, value, &DashboardState::selectedSectionChanged);
    }
    const std::optional<QUuid>& selectedNoteID() const { return m_selectedNoteID; }
    void setSelectedNoteID(const std::optional<QUuid>& value) {
        assign(m_selectedNoteID, value, &DashboardState::selectedNoteIDChanged);
    }
    const std::optional<QUuid>& editingDictionaryTermID() const { return m_editingDictionaryTermID; }
    void setEditingDictionaryTermID(const std::optional<QUuid>& value) {
        assign(m_editingDictionaryTermID, value, &DashboardState::editingDictionaryTermIDChanged);
    }
    const QString& dictionaryDraftTerm() const { return m_dictionaryDraftTerm; }
    void setDictionaryDraftTerm(const QString& value) {
        assign(m_dictionaryDraftTerm, value, &DashboardState::dictionaryDraftTermChanged);
    }
    const QString& dictionaryDraftNote() const { return m_dictionaryDraftNote; }
    void setDictionaryDraftNote(const QString& value) {
        assign(m_dictionaryDraftNote, value, &DashboardState::dictionaryDraftNoteChanged);
    }
    bool showDictionaryEditor() const { return m_showDictionaryEditor; }
    void setShowDictionaryEditor(bool value) {
        assign(m_showDictionaryEditor, value, &DashboardState::showDictionaryEditorChanged);
    }
    const std::optional<QUuid>& editingSnippetID() const { return m_editingSnippetID; }
    void setEditingSnippetID(const std::optional<QUuid>& value) {
        assign(m_editingSnippetID, value, &DashboardState::editingSnippetIDChanged);
    }
    const QString& snippetDraftTitle() const { return m_snippetDraftTitle; }
    void setSnippetDraftTitle(const QString& value) {
        assign(m_snippetDraftTitle, value, &DashboardState::snippetDraftTitleChanged);
    }
    const QString& snippetDraftValue() const { return m_snippetDraftValue; }
    void setSnippetDraftValue(const QString& value) {
        assign(m_snippetDraftValue, value, &DashboardState::snippetDraftValueChanged);
    }
    bool showSnippetEditor() const { return m_showSnippetEditor; }
    void setShowSnippetEditor(bool value) {
        assign(m_showSnippetEditor, value, &DashboardState::showSnippetEditorChanged);
    }
    const QList<TutorialItemDTO>& tutorials() const { return m_tutorials; }
    // Tutorials are not comparable: every set announces a change.
    void setTutorials(const QList<TutorialItemDTO>& value) {
        m_tutorials = value;
        emit tutorialsChanged();
    }
    const QString& tutorialsStatusText() const { return m_tutorialsStatusText; }
    void setTutorialsStatusText(const QString& value) {
        assign(m_tutorialsStatusText, value, &DashboardState::tutorialsStatusTextChanged);
    }
    bool showCustomPromptEditor() const { return m_showCustomPromptEditor; }
    void setShowCustomPromptEditor(bool value) {
        assign(m_showCustomPromptEditor, value, &DashboardState::showCustomPromptEditorChanged);
    }
    const QString& customPromptDraft() const { return m_customPromptDraft; }
    void setCustomPromptDraft(const QString& value) {
        assign(m_customPromptDraft, value, &DashboardState::customPromptDraftChanged);
    }
    const std::optional<DashboardHotkeyCaptureIntent>& captureIntent() const { return m_captureIntent; }
    void setCaptureIntent(const std::optional<DashboardHotkeyCaptureIntent>& value) {
        assign(m_captureIntent, value, &DashboardState::captureIntentChanged);
    }
    const QString& hotkeyStatusText() const { return m_hotkeyStatusText; }
    void setHotkeyStatusText(const QString& value) {
        assign(m_hotkeyStatusText, value, &DashboardState::hotkeyStatusTextChanged);
    }
    const std::optional<QUuid>& hoveredHistoryID() const { return m_hoveredHistoryID; }
    void setHoveredHistoryID(const std::optional<QUuid>& value) {
        assign(m_hoveredHistoryID, value, &DashboardState::hoveredHistoryIDChanged);
    }
    const std::optional<QString>& activeSettingsHelpID() const { return m_activeSettingsHelpID; }
    void setActiveSettingsHelpID(const std::optional<QString>& value) {
        assign(m_activeSettingsHelpID, value, &DashboardState::activeSettingsHelpIDChanged);
    }
    bool showResetConfirmation() const { return m_showResetConfirmation; }
    void setShowResetConfirmation(bool value) {
        assign(m_showResetConfirmation, value, &DashboardState::showResetConfirmationChanged);
    }

signals:
    void selectedSectionChanged();
    void selectedNoteIDChanged();
    void editingDictionaryTermIDChanged();
    void dictionaryDraftTermChanged();
    void dictionaryDraftNoteChanged();
    void showDictionaryEditorChanged();
    void editingSnippetIDChanged();
    void snippetDraftTitleChanged();
    void snippetDraftValueChanged();
    void showSnippetEditorChanged();
    void tutorialsChanged();
    void tutorialsStatusTextChanged();
    void showCustomPromptEditorChanged();
    void customPromptDraftChanged();
    void captureIntentChanged();
    void hotkeyStatusTextChanged();
    void hoveredHistoryIDChanged();
    void activeSettingsHelpIDChanged();
    void showResetConfirmationChanged();

private:
    template <class T> void assign(T& field, const T& value, void (DashboardState::*changed)()) {
        if (field == value) {
            return;
        }
        field = value;
        emit(this->*changed)();
    }

    std::optional<AppSection> m_selectedSection = AppSection::Home;
    std::optional<QUuid> m_selectedNoteID;
    std::optional<QUuid> m_editingDictionaryTermID;
    QString m_dictionaryDraftTerm;
    QString m_dictionaryDraftNote;
    bool m_showDictionaryEditor = false;
    std::optional<QUuid> m_editingSnippetID;
    QString m_snippetDraftTitle;
    QString m_snippetDraftValue;
    bool m_showSnippetEditor = false;
    QList<TutorialItemDTO> m_tutorials;
    QString m_tutorialsStatusText = QStringLiteral("Loading tutorials...");
    bool m_showCustomPromptEditor = false;
    QString m_customPromptDraft;
    std::optional<DashboardHotkeyCaptureIntent> m_captureIntent;
    QString m_hotkeyStatusText = QStringLiteral("Click Change, then press a new global shortcut.");
    std::optional<QUuid> m_hoveredHistoryID;
    std::optional<QString> m_activeSettingsHelpID;
    bool m_showResetConfirmation = false;
};
