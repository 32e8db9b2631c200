#pragma once

#include "DictationServices.h"

#include <memory>

class ActiveAppContextService;
class AppSettings;
class AudioCaptureService;
class GlobalHotkeyService;
class KnowledgeBaseStore;
class MediaControlService;
class NotesStore;
class PromptSettingsStore;
class RecordingOverlayController;
class SelectedTextService;
class SessionCoordinator;
class SoundFeedbackService;
class TextInsertionService;
class TranscriptionHistoryStore;

// The session contract over the real SessionCoordinator.
class SessionAdapter final : public SessionAccess {
public:
    explicit SessionAdapter(SessionCoordinator& session) : m_session(session) {}
    std::optional<QString> activeSessionToken() const override;
    quint64 sessionGeneration() const override;
    void applySessionSnapshot(const SessionResponseDTO& snapshot, std::optional<quint64> generation) override;
    void invalidateSessionDueToAuthenticationFailure(const QString& message) override;

private:
    SessionCoordinator& m_session;
};

// The real objects the coordinator works with, as the composition root creates them; all must outlive the
// adapters.
struct SystemServiceRefs {
    AudioCaptureService& audioCaptureService;
    GlobalHotkeyService& globalHotkeyService;
    RecordingOverlayController& recordingOverlayController;
    SoundFeedbackService& soundFeedbackService;
    MediaControlService& mediaControlService;
    ActiveAppContextService& activeAppContextService;
    SelectedTextService& selectedTextService;
    TextInsertionService& textInsertionService;
    AppSettings& appSettings;
    PromptSettingsStore& promptSettingsStore;
    SessionCoordinator& sessionCoordinator;
    KnowledgeBaseStore& knowledgeBaseStore;
    TranscriptionHistoryStore& transcriptionHistoryStore;
    NotesStore& notesStore;
};

// Implements every contract of DictationServices over the real services, settings, session and stores.
class SystemDictationServices {
public:
    explicit SystemDictationServices(const SystemServiceRefs& refs);
    ~SystemDictationServices();
    SystemDictationServices(const SystemDictationServices&) = delete;
    SystemDictationServices& operator=(const SystemDictationServices&) = delete;

    DictationServices services();

private:
    struct Adapters;
    std::unique_ptr<Adapters> m_adapters;
};
