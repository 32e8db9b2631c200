#pragma once

#include "APIModels.h"
#include "ActiveAppContext.h"
#include "DictationModes.h"

#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <functional>

class DictationSettings;

// The last steps before dictated text is inserted: is the user writing an e-mail (then the backend's
// e-mail formatter shapes the text), and the user's two output options (forced lower case, a blank after
// end punctuation).
namespace OutputPostProcessing {

// Substrings of the application name, class and window title that mark a mail client, desktop or web.
const QStringList& emailAppKeywords();
// Substrings of the same text that mark a mail composer in any application.
const QStringList& emailWindowHints();

// Whether the context is an e-mail composer. Never in the voice-note mode.
bool isEmailContext(const ActiveAppContext& context, RecordingMode mode);

// Sends one e-mail text to the backend's formatter (BackendClient::formatEmail in the application).
using EmailFormatter = std::function<QCoro::Task<FormatResponseDTO>(FormatEmailRequestDTO)>;

// In an e-mail context (and unless the user turned e-mail formatting off) the text as the backend's
// formatter returns it, trimmed; otherwise, or when the formatter fails or changes nothing, the text as
// given. Never throws. `settings` is read at the moment of use.
QCoro::Task<QString> applyPostProcessing(QString text, ActiveAppContext context, QString sessionToken,
                                         RecordingMode mode, const DictationSettings& settings,
                                         EmailFormatter formatter);

// Lower case when `forceLowercase`; then, when `autoSpace` and the text ends in . ! ? : or ;, one blank.
QString prepareOutputText(const QString& text, bool forceLowercase, bool autoSpace);

} // namespace OutputPostProcessing
