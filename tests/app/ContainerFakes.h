#pragma once

// Fakes the container tests build the composition root with.

#include "AudioInputSystem.h"
#include "SignInCancellation.h"

#include <qcoro/qcorotask.h>

// A sound server with no microphone.
class NoAudioInputs final : public AudioInputSystem {
public:
    std::optional<QString> defaultInputId() override { return std::nullopt; }
    QList<Input> inputs() override { return {}; }
    bool deviceExists(const QString&) override { return false; }
    int setDefaultInput(const QString&) override { return -1; }
    std::unique_ptr<QAudioSource> openCapture(const QString&, const QAudioFormat&) override {
        return nullptr;
    }
    QString lastErrorText() const override { return QStringLiteral("no server"); }
};

// A provider's browser flow that ends with whatever the test answers through `pending`.
template <class T> QCoro::Task<T> answerOf(PendingValue<T> pending) {
    co_return co_await pending;
}
