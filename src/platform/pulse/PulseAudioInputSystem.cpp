#include "PulseAudioInputSystem.h"

#include "PulseClient.h"

#include <pulse/def.h>

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <algorithm>

std::optional<QString> PulseAudioInputSystem::defaultInputId() {
    PulseClient pulse;
    std::optional<QString> name = pulse.defaultSourceName();
    m_lastError = name ? QString() : pulse.lastErrorText();
    return name;
}

QList<AudioInputSystem::Input> PulseAudioInputSystem::inputs() {
    QList<Input> result;
    for (const QAudioDevice& device : QMediaDevices::audioInputs()) {
        result.append({QString::fromUtf8(device.id()), device.description()});
    }
    return result;
}

bool PulseAudioInputSystem::deviceExists(const QString& id) {
    const QByteArray wanted = id.toUtf8();
    const auto matches = [&wanted](const QAudioDevice& device) { return device.id() == wanted; };
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    return std::any_of(inputs.begin(), inputs.end(), matches) ||
           std::any_of(outputs.begin(), outputs.end(), matches);
}

int PulseAudioInputSystem::setDefaultInput(const QString& id) {
    PulseClient pulse;
    const int status = pulse.setDefaultSource(id);
    m_lastError = status == 0 ? QString() : pulse.lastErrorText();
    // The server knows no source of that name: an input that went away after it was listed. An output
    // refused as the default source stays a refusal.
    if (status == PA_ERR_NOENTITY) {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        const QByteArray wanted = id.toUtf8();
        if (std::none_of(outputs.begin(), outputs.end(),
                         [&wanted](const QAudioDevice& device) { return device.id() == wanted; }))
            return noSuchInput;
    }
    return status;
}

std::unique_ptr<QAudioSource> PulseAudioInputSystem::openCapture(const QString& id,
                                                                 const QAudioFormat& format) {
    // Qt 6.4 marks no input as the default: the device is looked up by its id.
    const QByteArray wanted = id.toUtf8();
    for (const QAudioDevice& device : QMediaDevices::audioInputs()) {
        if (device.id() == wanted) {
            return std::make_unique<QAudioSource>(device, format);
        }
    }
    return nullptr;
}
