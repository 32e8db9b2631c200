#pragma once

#include <QAudioFormat>
#include <QAudioSource>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

// The sound server's side of the microphone: which capture devices exist, which one is the default, and
// making another one the default. Ids are the server's device names (the ids Qt's audio devices carry).
class AudioInputSystem {
public:
    struct Input {
        QString id;
        QString name; // the description users see
    };

    virtual ~AudioInputSystem() = default;

    // The default capture device's id; none when the sound server does not answer.
    virtual std::optional<QString> defaultInputId() = 0;
    // The capture devices (not the monitors of outputs).
    virtual QList<Input> inputs() = 0;
    // Whether any device, capture or playback, has this id.
    virtual bool deviceExists(const QString& id) = 0;
    // Makes `id` the default capture device: 0, noSuchInput when the server has no such input (the device
    // list can lag behind the server), else the server's error code.
    virtual int setDefaultInput(const QString& id) = 0;
    static constexpr int noSuchInput = -1;
    // A capture stream from the input `id` in `format` (not started); none when there is no such input.
    virtual std::unique_ptr<QAudioSource> openCapture(const QString& id, const QAudioFormat& format) = 0;
    // The server's text for the last failure.
    virtual QString lastErrorText() const = 0;
};
