#pragma once

#include "AudioInputDevice.h"
#include "AudioInputSystem.h"
#include "UserFacingError.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class AudioInputDeviceError : public UserFacingError {
public:
    enum class Kind { setDefaultFailed, deviceLookupFailed };

    static AudioInputDeviceError setDefaultFailed(qint32 status);
    static AudioInputDeviceError deviceLookupFailed();

    Kind kind() const { return m_kind; }
    qint32 status() const { return m_status; } // the audio server's error code for setDefaultFailed

private:
    AudioInputDeviceError(Kind kind, QString message, qint32 status = 0)
        : UserFacingError(std::move(message)), m_kind(kind), m_status(status) {}
    Kind m_kind;
    qint32 m_status;
};

// The microphones for the settings page's picker and the sentence saying which one dictation uses.
// Choosing a microphone makes it the audio server's default source, which is what recording uses.
// The list is read again on every refresh (the server's changes are not followed). Main thread only.
class AudioInputDeviceStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<AudioInputDevice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    explicit AudioInputDeviceStore(std::shared_ptr<AudioInputSystem> system, QObject* parent = nullptr);

    QList<AudioInputDevice> devices() const { return m_devices; }
    QString statusText() const { return m_statusText; }

    // Rebuilds `devices` (default first, then by name) and the status sentence for the saved choice.
    void refresh(const std::optional<QString>& selectedUID);
    // Makes the device the default source and refreshes; none or empty only refreshes.
    // Throws AudioInputDeviceError; the published values then stay as they were.
    void selectDevice(const std::optional<QString>& uid);

    // Orders devices: the default before the others, then by name (case-insensitive, locale-aware);
    // devices comparing equal keep their order.
    static QList<AudioInputDevice> sorted(QList<AudioInputDevice> devices);
    // The status sentence for a sorted list and a saved choice.
    static QString statusFor(const QList<AudioInputDevice>& devices,
                             const std::optional<QString>& selectedUID);

signals:
    void devicesChanged();
    void statusTextChanged();

private:
    QList<AudioInputDevice> m_devices;
    std::shared_ptr<AudioInputSystem> m_system;
    QString m_statusText;
};
