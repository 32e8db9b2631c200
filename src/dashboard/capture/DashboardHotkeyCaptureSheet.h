#pragma once

#include "DashboardHotkeyCaptureIntent.h"
#include "HotkeyCaptureMachine.h"

#include <QEvent>
#include <QMap>
#include <QWidget>

#include <functional>

class AppSettings;
class DashboardState;
class QKeyEvent;
class QLabel;
class QPushButton;

// The sheet that captures a new global shortcut: it shows the shortcut being replaced and a guidance
// sentence, and while it is shown it takes every key press and release of the application (an app-wide
// event filter) and hands them to the capture rules. A key shortcut is saved on the key's press, a
// modifier-only chord when its last key is released; Escape and "Cancel" cancel. Every way out removes the
// filter: capture, Escape, Cancel, hiding and destruction. Main thread only.
class DashboardHotkeyCaptureSheet : public QWidget {
    Q_OBJECT
public:
    DashboardHotkeyCaptureSheet(const QString& title, const HotkeyDefinition& currentHotkey,
                                std::function<void()> onCancel,
                                std::function<void(const HotkeyDefinition&)> onCapture,
                                QWidget* parent = nullptr);
    ~DashboardHotkeyCaptureSheet() override;

    // The sheet for an intent: its title, the intent's stored shortcut; a cancel runs `close`, a capture
    // stores the shortcut (or reports the clash) through applyCapturedHotkey, which clears the intent.
    static DashboardHotkeyCaptureSheet* forIntent(DashboardHotkeyCaptureIntent intent, AppSettings& settings,
                                                  DashboardState& state, std::function<void()> close);

    QString statusText() const;
    const HotkeyCaptureMachine& machine() const { return m_machine; }
    // Whether the app-wide key filter is installed.
    bool isCapturing() const { return m_capturing; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void installMonitor();
    void teardownMonitor();
    void cancel();
    void handleKey(QEvent::Type type, const QKeyEvent& event);
    void deliver(const HotkeyKeyEvent& event);
    std::uint64_t heldFlags() const;

    std::function<void()> m_onCancel;
    std::function<void(const HotkeyDefinition&)> m_onCapture;
    HotkeyCaptureMachine m_machine;
    bool m_capturing = false;
    // The modifier keys held now, by key (X keycode, or the Qt key for events without one), with their flag.
    QMap<quint64, std::uint64_t> m_heldModifiers;
    QLabel* m_status;
    QPushButton* m_cancel;
};
