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

// Mail clients, matched as whole words in the application's name and in its window class ("Thunderbird
// Mail", "org.gnome.Evolution" and "Claws-mail" match, "Evolutionary" does not); a name of several words
// matches as consecutive words. Window titles are never compared with this list.
const QStringList& mailClientNames();
// Web mail services, matched as whole words in the title of a browser window.
const QStringList& webMailTitleWords();
// Words of a mail composer or mailbox page, matched as whole words in the title of a browser window.
const QStringList& composeTitleHints();

// Whether the context is an e-mail composer: the application is a mail client (by its name or window
// class), or a browser (by its window class) shows a web mail service or a mail page. A terminal or a code
// editor never is one, whatever its title, and nothing is in the voice-note mode.
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
