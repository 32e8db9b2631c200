#include "DictationServiceAdapters.h"

#include "ActiveAppContextService.h"
#include "AppSettings.h"
#include "AudioCaptureService.h"
#include "GlobalHotkeyService.h"
#include "KnowledgeBaseStore.h"
#include "MediaControlService.h"
#include "NotesStore.h"
#include "PromptSettingsStore.h"
#include "RecordingOverlayController.h"
#include "SelectedTextService.h"
#include "SessionCoordinator.h"
#include "SoundFeedbackService.h"
#include "TextInsertionService.h"
#include "TranscriptionHistoryStore.h"

namespace {

class RecorderAdapter final : public Recorder {
public:
    explicit RecorderAdapter(AudioCaptureService& service) : m_service(service) {}
    bool isRecording() const override { return m_service.isRecording(); }
    QCoro::Task<> startRecording() override { return m_service.startRecording(); }
    RecordedAudio stopRecording() override { return m_service.stopRecording(); }

private:
    AudioCaptureService& m_service;
};

class ShortcutAdapter final : public ShortcutSource {
public:
    explicit ShortcutAdapter(GlobalHotkeyService& service) : m_service(service) {}
    void setEventHandler(std::function<void(HotkeyIntent, HotkeyEvent)> handler) override {
        m_service.eventHandler = std::move(handler);
    }
    void installHandlerIfNeeded() override { m_service.installHandlerIfNeeded(); }
    void registerHotkey() override { m_service.registerHotkey(); }
    void installFunctionKeyMonitors() override { m_service.installFunctionKeyMonitors(); }

private:
    GlobalHotkeyService& m_service;
};

class OverlayAdapter final : public RecordingOverlay {
public:
    explicit OverlayAdapter(RecordingOverlayController& controller) : m_controller(controller) {}
    void showRecording() override { m_controller.show(RecordingOverlayController::OverlayState::Recording); }
    void showProcessing() override {
        m_controller.show(RecordingOverlayController::OverlayState::Processing);
    }
    void hide() override { m_controller.hide(); }

private:
    RecordingOverlayController& m_controller;
};

class SoundsAdapter final : public CueSounds {
public:
    explicit SoundsAdapter(SoundFeedbackService& service) : m_service(service) {}
    void playStartSound() override { m_service.playStartSound(); }
    void playCompletionSound() override { m_service.playCompletionSound(); }

private:
    SoundFeedbackService& m_service;
};

class MuterAdapter final : public OutputMuter {
public:
    explicit MuterAdapter(MediaControlService& service) : m_service(service) {}
    void muteIfNeeded() override { m_service.muteIfNeeded(); }
    void restoreMuteStateIfNeeded() override { m_service.restoreMuteStateIfNeeded(); }

private:
    MediaControlService& m_service;
};

class ContextAdapter final : public AppContextSource {
public:
    explicit ContextAdapter(ActiveAppContextService& service) : m_service(service) {}
    ActiveAppContext currentContext() override { return m_service.currentContext(); }

private:
    ActiveAppContextService& m_service;
};

class SelectionAdapter final : public SelectionSource {
public:
    explicit SelectionAdapter(SelectedTextService& service) : m_service(service) {}
    QCoro::Task<QString> captureSelectedText() override { return m_service.captureSelectedText(); }

private:
    SelectedTextService& m_service;
};

class InserterAdapter final : public TextInserter {
public:
    explicit InserterAdapter(TextInsertionService& service) : m_service(service) {}
    QCoro::Task<> pasteText(QString text) override { return m_service.pasteText(std::move(text)); }
    QCoro::Task<> typeText(QString text, double delay) override {
        return m_service.typeText(std::move(text), delay);
    }
    QCoro::Task<WindowRaise> bringToFront(quint64 window, std::optional<qint64> processId) override {
        return m_service.bringToFront(window, processId);
    }
    bool copyToClipboard(const QString& text) override { return m_service.copyToClipboard(text); }

private:
    TextInsertionService& m_service;
};

class SettingsAdapter final : public DictationSettings {
public:
    SettingsAdapter(AppSettings& settings, PromptSettingsStore& prompts)
        : m_settings(settings), m_prompts(prompts) {}
    bool toggleHotkeyMode() const override { return m_settings.toggleHotkeyMode(); }
    bool autoPauseMedia() const override { return m_settings.autoPauseMedia(); }
    int silenceThreshold() const override { return m_settings.silenceThreshold(); }
    QString verbatimModeStyle() const override { return m_settings.verbatimModeStyle(); }
    bool disableEmailFormatting() const override { return m_settings.disableEmailFormatting(); }
    bool forceLowercaseOutput() const override { return m_settings.forceLowercaseOutput(); }
    bool autoSpaceEnabled() const override { return m_settings.autoSpaceEnabled(); }
    double vdiTypingDelay() const override { return m_settings.vdiTypingDelay(); }
    PromptSettings promptSettings() const override { return m_prompts.settings(); }

private:
    AppSettings& m_settings;
    PromptSettingsStore& m_prompts;
};

class KnowledgeBaseAdapter final : public KnowledgeBaseSource {
public:
    explicit KnowledgeBaseAdapter(KnowledgeBaseStore& store) : m_store(store) {}
    QList<DictionaryTerm> dictionaryTerms() const override { return m_store.dictionaryTerms(); }
    QList<KnowledgeSnippet> snippets() const override { return m_store.snippets(); }
    QList<DictionaryEntryDTO> dictionaryDTOs() const override { return m_store.dictionaryDTOs(); }
    QList<SnippetDTO> snippetDTOs() const override { return m_store.snippetDTOs(); }

private:
    KnowledgeBaseStore& m_store;
};

class HistoryAdapter final : public HistoryRecorder {
public:
    explicit HistoryAdapter(TranscriptionHistoryStore& store) : m_store(store) {}
    void addEntry(const QString& text, const std::optional<QString>& provider, const QString& appContext,
                  double durationSeconds) override {
        m_store.addEntry(text, provider, appContext, durationSeconds);
    }

private:
    TranscriptionHistoryStore& m_store;
};

class NotesAdapter final : public NoteRecorder {
public:
    explicit NotesAdapter(NotesStore& store) : m_store(store) {}
    NoteEntry addVoiceNote(const QString& body, const QDateTime& timestamp) override {
        return m_store.addVoiceNote(body, timestamp);
    }
    bool renameIfTitleIs(const QUuid& id, const QString& expected, const QString& title) override {
        return m_store.renameIfTitleIs(id, expected, title);
    }

private:
    NotesStore& m_store;
};

} // namespace

std::optional<QString> SessionAdapter::activeSessionToken() const {
    return m_session.activeSessionToken();
}
quint64 SessionAdapter::sessionGeneration() const {
    return m_session.sessionGeneration();
}
void SessionAdapter::applySessionSnapshot(const SessionResponseDTO& snapshot,
                                          std::optional<quint64> generation) {
    m_session.applySessionSnapshot(snapshot, generation);
}
void SessionAdapter::invalidateSessionDueToAuthenticationFailure(const QString& message) {
    m_session.invalidateSessionDueToAuthenticationFailure(message);
}

struct SystemDictationServices::Adapters {
    explicit Adapters(const SystemServiceRefs& refs)
        : recorder(refs.audioCaptureService), shortcuts(refs.globalHotkeyService),
          overlay(refs.recordingOverlayController), sounds(refs.soundFeedbackService),
          muter(refs.mediaControlService), context(refs.activeAppContextService),
          selection(refs.selectedTextService), inserter(refs.textInsertionService),
          settings(refs.appSettings, refs.promptSettingsStore), session(refs.sessionCoordinator),
          knowledgeBase(refs.knowledgeBaseStore), history(refs.transcriptionHistoryStore),
          notes(refs.notesStore) {}

    RecorderAdapter recorder;
    ShortcutAdapter shortcuts;
    OverlayAdapter overlay;
    SoundsAdapter sounds;
    MuterAdapter muter;
    ContextAdapter context;
    SelectionAdapter selection;
    InserterAdapter inserter;
    SettingsAdapter settings;
    SessionAdapter session;
    KnowledgeBaseAdapter knowledgeBase;
    HistoryAdapter history;
    NotesAdapter notes;
};

SystemDictationServices::SystemDictationServices(const SystemServiceRefs& refs)
    : m_adapters(std::make_unique<Adapters>(refs)) {}

SystemDictationServices::~SystemDictationServices() = default;

DictationServices SystemDictationServices::services() {
    Adapters& a = *m_adapters;
    return DictationServices{a.recorder,      a.shortcuts, a.overlay,  a.sounds,   a.muter,
                             a.context,       a.selection, a.inserter, a.settings, a.session,
                             a.knowledgeBase, a.history,   a.notes};
}
