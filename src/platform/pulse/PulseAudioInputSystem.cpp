#include "PulseAudioInputSystem.h"

#include "PulseConnection.h"

#include <pulse/def.h>

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <algorithm>

PulseAudioInputSystem::PulseAudioInputSystem(std::shared_ptr<PulseConnection> pulse)
    : m_pulse(std::move(pulse)) {}

std::optional<QString> PulseAudioInputSystem::defaultInputId() {
    std::optional<QString> name = m_pulse->defaultSourceName();
    m_lastError = name ? QString() : m_pulse->connectionErrorText();
    return name;
}

QList<AudioInputSystem::Input> PulseAudioInputSystem::inputs() {
    QList<Input> result;
    for (const PulseConnection::Device& source :
         m_pulse->sources().value_or(QList<PulseConnection::Device>())) {
        if (!source.isMonitor)
            result.append({source.name, source.description});
    }
    return result;
}

bool PulseAudioInputSystem::isOutput(const QString& id) {
    const QList<PulseConnection::Device> sinks = m_pulse->sinks().value_or(QList<PulseConnection::Device>());
    return std::any_of(sinks.begin(), sinks.end(), [&id](const auto& sink) { return sink.name == id; });
}

bool PulseAudioInputSystem::deviceExists(const QString& id) {
    const QList<Input> sources = inputs();
    return std::any_of(sources.begin(), sources.end(),
                       [&id](const Input& input) { return input.id == id; }) ||
           isOutput(id);
}

int PulseAudioInputSystem::setDefaultInput(const QString& id) {
    const int status = m_pulse->setDefaultSource(id, &m_lastError);
    // The server knows no source of that name: an input that went away after it was listed. An output
    // refused as the default source stays a refusal.
    if (status == PA_ERR_NOENTITY && !isOutput(id))
        return noSuchInput;
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
