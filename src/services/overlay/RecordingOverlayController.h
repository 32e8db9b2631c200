#pragma once

#include <QObject>

#include "Scheduler.h" // after a Qt header: moc fails on <concepts> when that comes first

#include <memory>
#include <optional>

class AudioCaptureService;
class QScreen;
class RecordingOverlayView;
class FrontmostWindowSource;

// The small pill near the bottom of the screen while the user dictates: level bars while recording, the
// bars with a spinning ring while processing. It floats above other windows on every workspace, never
// takes focus and lets clicks through.
//
// The recorder's published state drives it through `observe()` (or the two input slots); the dictation
// coordinator switches its state with `show()` and `hide()`. The pill sits centred 18 pixels above the
// bottom of the screen that holds the focused window (else the screen under the pointer, else the
// primary screen). The 50 ms animation timer runs only while the pill is on screen. Main thread only.
class RecordingOverlayController : public QObject {
    Q_OBJECT
    Q_PROPERTY(OverlayState state READ state NOTIFY stateChanged)
    Q_PROPERTY(double normalizedLevel READ normalizedLevel NOTIFY normalizedLevelChanged)
    Q_PROPERTY(double phase READ phase NOTIFY phaseChanged)

public:
    enum class OverlayState { Hidden, Recording, Processing };
    Q_ENUM(OverlayState)

    static constexpr Scheduler::Duration kPhaseInterval{50};
    static constexpr Scheduler::Duration kFadeDuration{120};

    // `windows` finds the focused window (on X11); without one the overlay follows the pointer's screen.
    explicit RecordingOverlayController(Scheduler& scheduler = Scheduler::current(),
                                        std::shared_ptr<FrontmostWindowSource> windows = nullptr,
                                        QObject* parent = nullptr);
    ~RecordingOverlayController() override;

    // Follows the recorder's `isRecording` and `averagePower`; the current values arrive on the next turn
    // of the event loop.
    void observe(AudioCaptureService& recorder);

    // Builds the pill and places it, off screen. Used once at start-up.
    void prepare();
    // Shows the pill in `state` (recording or processing) without taking focus.
    void show(OverlayState state);
    // Hides the pill.
    void hide();

    OverlayState state() const { return m_state; }
    double normalizedLevel() const { return m_normalizedLevel; }
    double phase() const { return m_phase; }

    bool isPanelVisible() const;
    bool isPhaseTimerRunning() const { return m_phaseTimer.isActive(); }
    // The pill's window; null until first needed.
    RecordingOverlayView* panel() const { return m_panel.get(); }

public slots:
    // The recorder's `isRecording` changed: up it goes when recording starts; when recording stops it
    // goes away unless the dictation is being processed.
    void recorderRecordingChanged(bool isRecording);
    // The recorder's `averagePower` (dBFS) changed.
    void recorderAveragePowerChanged(float averagePower);

signals:
    void stateChanged(RecordingOverlayController::OverlayState state);
    void normalizedLevelChanged(double normalizedLevel);
    void phaseChanged(double phase);

private:
    RecordingOverlayView* ensurePanel();
    void updatePosition();
    void orderFront();
    void orderOut();
    void setState(OverlayState state);
    void startPhaseTimer();
    void stopPhaseTimer();
    void startFade();
    QScreen* targetScreen();
    FrontmostWindowSource* windows(); // none off X11

    Scheduler& m_scheduler;
    std::shared_ptr<FrontmostWindowSource> m_windows;
    std::unique_ptr<RecordingOverlayView> m_panel;
    TimerHandle m_phaseTimer;
    TimerHandle m_fadeTimer;
    double m_fadeStartedAt = 0.0;
    QMetaObject::Connection m_recordingConnection;
    QMetaObject::Connection m_powerConnection;

    OverlayState m_state = OverlayState::Hidden;
    double m_normalizedLevel = 0.0;
    double m_phase = 0.0;
};
