#pragma once

#include "APIModels.h"
#include "ActiveAppContext.h"
#include "DictionaryTerm.h"
#include "HotkeyIntent.h"
#include "KnowledgeSnippet.h"
#include "NoteEntry.h"
#include "PromptSettings.h"
#include "RecordedAudio.h"
#include "WindowRaise.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

// What the dictation coordinator and its pipelines use of the system services, the settings, the session
// and the stores: one small contract each. DictationServiceAdapters implements them over the real objects;
// the tests implement them with fakes. Everything is called on the main thread.

// The microphone recorder.
class Recorder {
public:
    virtual ~Recorder() = default;
    virtual bool isRecording() const = 0;
    // Starts a recording into a new temporary WAV file; throws a UserFacingError when it cannot.
    virtual QCoro::Task<> startRecording() = 0;
    // Ends the recording and hands over its file, which the caller then owns; throws when none is running.
    virtual RecordedAudio stopRecording() = 0;
};

// The global shortcuts. The activation order is installHandlerIfNeeded(), registerHotkey(),
// installFunctionKeyMonitors(); the first two throw a UserFacingError when they fail.
class ShortcutSource {
public:
    virtual ~ShortcutSource() = default;
    // Replaces the callback that receives every press and release of a registered shortcut.
    virtual void setEventHandler(std::function<void(HotkeyIntent, HotkeyEvent)> handler) = 0;
    virtual void installHandlerIfNeeded() = 0;
    virtual void registerHotkey() = 0;
    virtual void installFunctionKeyMonitors() = 0;
};

// The floating recording overlay. Showing never takes focus from the frontmost application.
class RecordingOverlay {
public:
    virtual ~RecordingOverlay() = default;
    virtual void showRecording() = 0;
    virtual void showProcessing() = 0;
    virtual void hide() = 0;
};

// The start and completion cues.
class CueSounds {
public:
    virtual ~CueSounds() = default;
    virtual void playStartSound() = 0;
    virtual void playCompletionSound() = 0;
};

// System output muting while the user speaks. Both return at once (the work runs elsewhere, in order);
// the restore undoes only a mute of our own.
class OutputMuter {
public:
    virtual ~OutputMuter() = default;
    virtual void muteIfNeeded() = 0;
    virtual void restoreMuteStateIfNeeded() = 0;
};

// The frontmost application, read afresh on every call.
class AppContextSource {
public:
    virtual ~AppContextSource() = default;
    virtual ActiveAppContext currentContext() = 0;
};

// The text selected in the frontmost application (AI Mode); throws a UserFacingError when there is none.
class SelectionSource {
public:
    virtual ~SelectionSource() = default;
    virtual QCoro::Task<QString> captureSelectedText() = 0;
};

// Paste or type finished text into the frontmost application; throws a UserFacingError on failure.
class TextInserter {
public:
    virtual ~TextInserter() = default;
    virtual QCoro::Task<> pasteText(QString text) = 0;
    virtual QCoro::Task<> typeText(QString text, double delay) = 0;
    // Makes the window a recording was made for the active one again (see WindowRaise).
    virtual QCoro::Task<WindowRaise> bringToFront(quint64 window, std::optional<qint64> processId) = 0;
    // Leaves text on the clipboard for the user to paste; false when the clipboard did not take it.
    virtual bool copyToClipboard(const QString& text) = 0;
};

// The user's settings, read at the moment of use (nothing is cached between recordings).
class DictationSettings {
public:
    virtual ~DictationSettings() = default;
    virtual bool toggleHotkeyMode() const = 0;
    virtual bool autoPauseMedia() const = 0;
    virtual int silenceThreshold() const = 0;
    virtual QString verbatimModeStyle() const = 0;
    virtual bool disableEmailFormatting() const = 0;
    virtual bool forceLowercaseOutput() const = 0;
    virtual bool autoSpaceEnabled() const = 0;
    virtual double vdiTypingDelay() const = 0;
    virtual PromptSettings promptSettings() const = 0;
};

// The backend session.
class SessionAccess {
public:
    virtual ~SessionAccess() = default;
    virtual std::optional<QString> activeSessionToken() const = 0;
    // Changes on every sign-out and invalidation; a request takes it before sending (see SessionCoordinator).
    virtual quint64 sessionGeneration() const = 0;
    virtual void applySessionSnapshot(const SessionResponseDTO& snapshot,
                                      std::optional<quint64> generation) = 0;
    virtual void invalidateSessionDueToAuthenticationFailure(const QString& message) = 0;
};

// The knowledge base, in the store's order.
class KnowledgeBaseSource {
public:
    virtual ~KnowledgeBaseSource() = default;
    virtual QList<DictionaryTerm> dictionaryTerms() const = 0;
    virtual QList<KnowledgeSnippet> snippets() const = 0;
    virtual QList<DictionaryEntryDTO> dictionaryDTOs() const = 0;
    virtual QList<SnippetDTO> snippetDTOs() const = 0;
};

// The transcription history.
class HistoryRecorder {
public:
    virtual ~HistoryRecorder() = default;
    virtual void addEntry(const QString& text, const std::optional<QString>& provider,
                          const QString& appContext, double durationSeconds) = 0;
};

// The voice notes.
class NoteRecorder {
public:
    virtual ~NoteRecorder() = default;
    virtual NoteEntry addVoiceNote(const QString& body, const QDateTime& timestamp) = 0;
    // Gives the note `title` while its title is still `expected`; returns whether it did (false when the
    // user renamed or deleted the note meanwhile).
    virtual bool renameIfTitleIs(const QUuid& id, const QString& expected, const QString& title) = 0;
};

// Everything the coordinator and the pipelines reach, given once at creation and never replaced.
struct DictationServices {
    Recorder& recorder;
    ShortcutSource& shortcuts;
    RecordingOverlay& overlay;
    CueSounds& sounds;
    OutputMuter& muter;
    AppContextSource& context;
    SelectionSource& selection;
    TextInserter& inserter;
    DictationSettings& settings;
    SessionAccess& session;
    KnowledgeBaseSource& knowledgeBase;
    HistoryRecorder& history;
    NoteRecorder& notes;
};
