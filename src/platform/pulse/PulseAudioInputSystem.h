#pragma once

#include "AudioInputSystem.h"

// The inputs on PulseAudio: the default source and switching it through libpulse, the device list
// through Qt's audio devices (which talk to the same server and leave out monitor sources).
class PulseAudioInputSystem : public AudioInputSystem {
public:
    std::optional<QString> defaultInputId() override;
    QList<Input> inputs() override;
    bool deviceExists(const QString& id) override;
    int setDefaultInput(const QString& id) override;
    std::unique_ptr<QAudioSource> openCapture(const QString& id, const QAudioFormat& format) override;
    QString lastErrorText() const override { return m_lastError; }

private:
    QString m_lastError;
};
