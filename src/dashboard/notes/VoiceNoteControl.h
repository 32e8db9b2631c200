#pragma once

#include "DictationModes.h"

#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

// What the notes page needs of the dictation coordinator and its recorder: whether the recorder runs and
// in which mode, the last recording summary, and starting or stopping a recording. `changed` tells that
// any of the three values may have changed.
class VoiceNoteControl : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool recorderIsRecording() const = 0;
    virtual RecordingMode activeMode() const = 0;
    virtual std::optional<QString> lastRecordingSummary() const = 0;
    virtual QCoro::Task<> startRecording(RecordingMode mode, OutputMode outputMode) = 0;
    virtual QCoro::Task<> stopRecording() = 0;

signals:
    void changed();
};
