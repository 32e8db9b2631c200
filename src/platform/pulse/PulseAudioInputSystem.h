#pragma once

#include "AudioInputSystem.h"

#include <memory>

class PulseConnection;

// The inputs on PulseAudio: the default source, the sources (without the monitors of outputs) and
// switching the default source, through the long-lived connection; capture streams through Qt's audio
// devices (which talk to the same server).
class PulseAudioInputSystem : public AudioInputSystem {
public:
    explicit PulseAudioInputSystem(std::shared_ptr<PulseConnection> pulse);

    std::optional<QString> defaultInputId() override;
    QList<Input> inputs() override;
    bool deviceExists(const QString& id) override;
    int setDefaultInput(const QString& id) override;
    std::unique_ptr<QAudioSource> openCapture(const QString& id, const QAudioFormat& format) override;
    QString lastErrorText() const override { return m_lastError; }

private:
    bool isOutput(const QString& id);

    std::shared_ptr<PulseConnection> m_pulse;
    QString m_lastError;
};
