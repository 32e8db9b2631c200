#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

#include <memory>

// Reads the text the user has selected in the focused object of an application through the desktop's
// accessibility interface. Asynchronous with short time-outs: a program that does not answer delays the
// caller by at most a moment and never blocks the main thread.
class AccessibleSelectionReader {
public:
    // Status numbers for the logs: 0 when the lookup worked but found nothing, negative for failures.
    static constexpr int statusNothingFound = 0;
    static constexpr int statusBusUnavailable = -1;  // no accessibility bus, or it does not answer
    static constexpr int statusNoApplication = -2;   // no accessible application for the process
    static constexpr int statusRequestFailed = -3;   // a request failed or timed out
    static constexpr int statusNoTextInterface = -4; // the focused object has no text

    struct Result {
        enum class Outcome { NoFocusedObject, TextUnavailable, Text };
        Outcome outcome = Outcome::NoFocusedObject;
        int status = statusNothingFound;
        QString text; // the selected text exactly as read (Outcome::Text)
    };

    virtual ~AccessibleSelectionReader() = default;

    // The focused object's selection in the application of `processId` (never another application's,
    // which may have a focused object of its own). Our own process is never asked.
    virtual QCoro::Task<Result> readFocusedSelection(qint64 processId) = 0;
};
