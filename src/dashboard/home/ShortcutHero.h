#pragma once

#include <QPointer>
#include <QWidget>

class AppSettings;
class DashboardSecondaryButton;
class DictationCoordinator;
class ElidedLabel;
class QLabel;
class SessionCoordinator;

// The home page's blue banner: the dictation and AI Mode shortcuts as this desktop names the keys, the time
// saved against typing, and "Retry Last Submission" while a saved recording or an error message is there.
// A retry started here disables the button until it ends, so one saved recording is never sent twice.
class ShortcutHero : public QWidget {
    Q_OBJECT
public:
    ShortcutHero(AppSettings& settings, SessionCoordinator& session, DictationCoordinator& dictation,
                 QWidget* parent = nullptr);

    bool isRetryInFlight() const { return m_retryInFlight; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();
    void startRetry();

    AppSettings& m_settings;
    SessionCoordinator& m_session;
    DictationCoordinator& m_dictation;
    QLabel* m_title;
    QLabel* m_subtitle;
    QLabel* m_dictateValue;
    QLabel* m_aiModeValue;
    QLabel* m_timeSaved;
    QWidget* m_retryRow;
    DashboardSecondaryButton* m_retryButton;
    ElidedLabel* m_errorLine;
    bool m_retryInFlight = false;
};
