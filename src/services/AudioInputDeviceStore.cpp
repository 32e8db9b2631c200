#include "AudioInputDeviceStore.h"

#include "PulseClient.h"

#include <QAudioDevice>
#include <QCollator>
#include <QMediaDevices>

#include <algorithm>

namespace {
const QString kDefaultMicrophone = QStringLiteral("Using your computer's default microphone.");

// The inputs Qt sees (monitors of outputs are not among them), marked against the server's default source.
QList<AudioInputDevice> enumerateInputDevices(const std::optional<QString>& defaultSourceName) {
    QList<AudioInputDevice> devices;
    for (const QAudioDevice& device : QMediaDevices::audioInputs()) {
        const QString id = QString::fromUtf8(device.id());
        devices.append({id, device.description(), defaultSourceName && *defaultSourceName == id});
    }
    return devices;
}

// Any device, input or output, with this id.
bool deviceExists(const QString& uid) {
    const QByteArray id = uid.toUtf8();
    const auto matches = [&id](const QAudioDevice& device) { return device.id() == id; };
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    return std::any_of(inputs.begin(), inputs.end(), matches) ||
           std::any_of(outputs.begin(), outputs.end(), matches);
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

AudioInputDeviceStore::AudioInputDeviceStore(QObject* parent)
    : QObject(parent), m_statusText(kDefaultMicrophone) {}

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
    PulseClient pulse;
    const QList<AudioInputDevice> devices = sorted(enumerateInputDevices(pulse.defaultSourceName()));
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
    if (!deviceExists(*uid))
        throw AudioInputDeviceError::deviceLookupFailed();
    PulseClient pulse;
    const int status = pulse.setDefaultSource(*uid);
    if (status != 0)
        throw AudioInputDeviceError::setDefaultFailed(status);
    refresh(uid);
}
