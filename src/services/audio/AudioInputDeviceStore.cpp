#include "AudioInputDeviceStore.h"

#include <QCollator>

#include <algorithm>

namespace {
const QString kDefaultMicrophone = QStringLiteral("Using your computer's default microphone.");

// The server's inputs, marked against its default source.
QList<AudioInputDevice> enumerateInputDevices(AudioInputSystem& system) {
    const std::optional<QString> defaultId = system.defaultInputId();
    QList<AudioInputDevice> devices;
    for (const AudioInputSystem::Input& input : system.inputs()) {
        devices.append({input.id, input.name, defaultId && *defaultId == input.id});
    }
    return devices;
}
} // namespace

AudioInputDeviceError AudioInputDeviceError::setDefaultFailed(qint32 status) {
    return AudioInputDeviceError(Kind::setDefaultFailed,
                                 QStringLiteral("Unable to switch microphones (") + QString::number(status) +
                                     QStringLiteral(")."),
                                 status);
}

AudioInputDeviceError AudioInputDeviceError::deviceLookupFailed() {
    return AudioInputDeviceError(Kind::deviceLookupFailed,
                                 QStringLiteral("Unable to find the selected microphone."));
}

AudioInputDeviceStore::AudioInputDeviceStore(std::shared_ptr<AudioInputSystem> system, QObject* parent)
    : QObject(parent), m_system(std::move(system)), m_statusText(kDefaultMicrophone) {}

QList<AudioInputDevice> AudioInputDeviceStore::sorted(QList<AudioInputDevice> devices) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(devices.begin(), devices.end(),
                     [&collator](const AudioInputDevice& a, const AudioInputDevice& b) {
                         if (a.isDefault != b.isDefault)
                             return a.isDefault;
                         return collator.compare(a.name, b.name) < 0;
                     });
    return devices;
}

QString AudioInputDeviceStore::statusFor(const QList<AudioInputDevice>& devices,
                                         const std::optional<QString>& selectedUID) {
    if (selectedUID) {
        for (const AudioInputDevice& device : devices)
            if (device.id == *selectedUID)
                return QStringLiteral("Selected microphone: ") + device.name;
    }
    for (const AudioInputDevice& device : devices)
        if (device.isDefault)
            return QStringLiteral("Using your computer's default microphone: ") + device.name;
    return kDefaultMicrophone;
}

void AudioInputDeviceStore::refresh(const std::optional<QString>& selectedUID) {
    const QList<AudioInputDevice> devices = sorted(enumerateInputDevices(*m_system));
    const QString status = statusFor(devices, selectedUID);
    if (devices != m_devices) {
        m_devices = devices;
        emit devicesChanged();
    }
    if (status != m_statusText) {
        m_statusText = status;
        emit statusTextChanged();
    }
}

void AudioInputDeviceStore::selectDevice(const std::optional<QString>& uid) {
    if (!uid || uid->isEmpty()) {
        refresh(std::nullopt);
        return;
    }
    if (!m_system->deviceExists(*uid))
        throw AudioInputDeviceError::deviceLookupFailed();
    const int status = m_system->setDefaultInput(*uid);
    if (status == AudioInputSystem::noSuchInput)
        throw AudioInputDeviceError::deviceLookupFailed();
    if (status != 0)
        throw AudioInputDeviceError::setDefaultFailed(status);
    refresh(uid);
}
