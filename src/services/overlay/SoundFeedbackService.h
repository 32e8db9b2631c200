#pragma once

#include "ToneRenderer.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class Scheduler;

// Plays the cue that marks the start of a recording and the cue that marks the successful end of a
// dictation, an AI Mode edit or a voice note.
//
// Each cue prefers a WAV file shipped with the application (compiled in as the resources
// ":/sounds/dictation-start.wav" and ":/sounds/dictation-stop.wav"; a file of that relative path under the
// working directory is the second choice). Without it, the start cue plays the named sound "Tink" and the
// completion cue a two-note tone rendered once at creation. Named sounds are short tones from the same
// renderer; when a named sound cannot be played at all the desktop's beep sounds instead.
//
// Each cue's samples are decoded once; a play opens an output stream that is closed again shortly after the
// sound has been handed over, so an idle app holds no stream.
//
// Main thread only. Nothing is reported: a missing or unreadable file leaves its cue to the fallbacks.
class SoundFeedbackService : public QObject {
    Q_OBJECT

public:
    struct Configuration {
        QStringList startCandidates{"sounds/dictation-start.wav", "macos/sounds/dictation-start.wav"};
        QStringList completionCandidates{"sounds/dictation-stop.wav", "macos/sounds/dictation-stop.wav"};
        ToneSequence completionFallback{{880.0, 1174.0}, 0.16, 0.025, 0.16};
    };

    static constexpr double kStartVolume = 0.72;
    static constexpr double kCompletionVolume = 0.64;
    static constexpr double kFallbackToneVolume = 0.9;
    static constexpr double kTinkVolume = 0.22;
    static constexpr double kTinkFallbackVolume = 0.18;

    explicit SoundFeedbackService(Scheduler& scheduler, Configuration configuration,
                                  QObject* parent = nullptr);
    explicit SoundFeedbackService(QObject* parent = nullptr);
    ~SoundFeedbackService() override;

    void playStartSound();
    void playCompletionSound();

    // Plays the named sound ("Tink", "Pop") at `volume`. An unknown name, or a sound that cannot be played,
    // plays "Pop" at `fallbackVolume`; when that cannot be played either (no audio output), the desktop's
    // beep sounds. Returns at once; the sound starts on the next turn of the event loop.
    void playNamedSound(const QString& name, double volume, double fallbackVolume);

    // Where a cue file is found: the compiled-in resource of the candidate's file name, else the first
    // candidate that names an existing file under the working directory, else nothing.
    static std::optional<QUrl> findToneFile(const QStringList& candidateRelativePaths);

    // Whether the cue files were found and decoded (at construction).
    bool hasStartFile() const;
    bool hasCompletionFile() const;

    // Whether any audio output stream is open: from a play until shortly after the sound has been handed
    // to the server. Between cues nothing is open, so nothing wakes the process.
    bool isPlaying() const;

    class CuePlayer;

private:
    void playNamedSoundNow(const QString& name, double volume, double fallbackVolume);

    std::unique_ptr<CuePlayer> m_startTonePlayer;      // null without a usable file
    std::unique_ptr<CuePlayer> m_completionTonePlayer; // null without a usable file
    std::unique_ptr<CuePlayer> m_completionFallbackPlayer;
    std::unique_ptr<CuePlayer> m_tinkPlayer;
    std::unique_ptr<CuePlayer> m_popPlayer;
};
