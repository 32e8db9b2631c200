#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// A failed cloud sync as the dashboard shows it. The composition root adapts its sync coordinator to this.
class CloudSyncFailures : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The failed sync's status sentence; empty while there is nothing to show (no failure, or a sync has
    // succeeded since).
    virtual QString failureText() const = 0;
    // What the user can do about it.
    virtual QString failureAdvice() const = 0;
    // Whether trying again now can help (not when the failure was for want of a session).
    virtual bool canRetry() const = 0;
    // Tries the sync again now.
    virtual void retryNow() = 0;

signals:
    void failureChanged();
};

// The notice a page shows at its top while the cloud sync has failed: the failure's sentence, what to do
// about it and, where it can help, "Try Again". Hidden while there is no failure, and without a source.
// Object names: "syncFailureNotice", "syncFailureText", "syncFailureAdvice", "syncRetryButton".
class SyncFailureNotice : public QWidget {
    Q_OBJECT

public:
    explicit SyncFailureNotice(CloudSyncFailures* source, QWidget* parent = nullptr);

    QString text() const;
    QString advice() const;
    QPushButton* retryButton() const { return m_retry; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();

    CloudSyncFailures* m_source;
    QLabel* m_text = nullptr;
    QLabel* m_advice = nullptr;
    QPushButton* m_retry = nullptr;
};
