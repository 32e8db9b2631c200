#pragma once

#ifndef Q_MOC_RUN
#include "Scheduler.h" // moc cannot parse <concepts>
#endif

#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

class AppSettings;
class AppUpdater;
class DictationCoordinator;
class FrontmostWindowSource;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QFrame;

// The panel that opens from the tray icon (300 px wide): the title, the coordinator's status sentence and
// the version, Recording/Idle, the shortcut lines, the last summary and up to four lines of the last
// transcript, then "Start Recording"/"Stop Recording", "Settings", "Check for Updates…" (only when update
// checks are configured) and "Quit". It keeps nothing: every line is re-read from its sources whenever
// one of them announces a change.
//
// "Start Recording" must not make the panel the window the text goes to: it hides the panel and starts the
// recording only once the desktop's focus has left our windows (bounded), so the frontmost context and the
// paste go to the user's application.
class TrayPanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 300;
    static constexpr std::chrono::milliseconds kFocusPoll{20};
    static constexpr std::chrono::milliseconds kFocusWait{1000};

    // True while one of our windows holds the desktop's focus.
    using FocusProbe = std::function<bool()>;
    // Asks Qt for a focused window of ours, then `windows` (when given) whether the desktop's frontmost
    // window is one of this process. The panel starts with the probe without `windows`.
    static FocusProbe focusProbe(std::shared_ptr<FrontmostWindowSource> windows);

    TrayPanel(DictationCoordinator& coordinator, AppSettings& settings, AppUpdater* updater,
              QWidget* parent = nullptr);

    void setFocusProbe(FocusProbe probe) { m_focusProbe = std::move(probe); }
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }
    // Re-reads every line (the recorder's flag included).
    void sync();
    // The same while the panel is shown; a hidden panel only notes that it is behind and catches up when
    // it is next shown (laying out its texts costs fonts and memory nobody sees). Connected to the
    // coordinator, the settings and, by the application, the recorder.
    void syncWhenShown();

    // The visible texts, top to bottom, for tests and accessibility.
    QStringList shortcutLines() const;
    QStringList actionTitles() const;
    bool transcriptShown() const;

    // The press of the recording button.
    void toggleRecording();

    static QString appVersionDisplay();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool isRecording() const;
    void startWhenFocusLeft(std::chrono::milliseconds waited);

    DictationCoordinator& m_coordinator;
    AppSettings& m_settings;
    AppUpdater* m_updater;
    FocusProbe m_focusProbe;
    std::function<void()> m_quit;
    TimerHandle m_focusWait;
    bool m_stale = false;

    QLabel* m_status = nullptr;
    QLabel* m_stateIcon = nullptr;
    QLabel* m_stateText = nullptr;
    QVBoxLayout* m_shortcuts = nullptr;
    QLabel* m_summary = nullptr;
    QFrame* m_transcriptDivider = nullptr;
    QLabel* m_transcript = nullptr;
    QPushButton* m_recordButton = nullptr;
    QPushButton* m_updateButton = nullptr;
};
