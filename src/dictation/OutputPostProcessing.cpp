#include "OutputPostProcessing.h"

#include "AppLogger.h"
#include "DictationServices.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"

#include <exception>
#include <optional>

namespace OutputPostProcessing {

const QStringList& emailAppKeywords() {
    static const QStringList keywords{"gmail",     "outlook",     "superhuman", "fastmail",   "hey email",
                                      "hey.com",   "spark mail",  "mailbird",   "mimestream", "thunderbird",
                                      "front",     "proton mail", "yahoo mail", "zoho mail",  "private email",
                                      "evolution", "geary",       "kmail",      "claws-mail"};
    return keywords;
}

const QStringList& emailWindowHints() {
    static const QStringList hints{" inbox", " compose", " email", "new message", "reply"};
    return hints;
}

namespace {
bool containsAny(const QString& probe, const QStringList& needles) {
    for (const QString& needle : needles) {
        if (probe.contains(needle)) {
            return true;
        }
    }
    return false;
}
} // namespace

bool isEmailContext(const ActiveAppContext& context, RecordingMode mode) {
    if (mode == RecordingMode::Note) {
        return false;
    }
    const QString probe = (context.appName + QLatin1Char(' ') + context.bundleIdentifier.value_or(QString()) +
                           QLatin1Char(' ') + context.windowTitle)
                              .toLower();
    return containsAny(probe, emailAppKeywords()) || probe.contains(QLatin1String("com.apple.mail")) ||
           probe.startsWith(QLatin1String("mail ")) || probe.contains(QLatin1String(" mail")) ||
           containsAny(probe, emailWindowHints());
}

QCoro::Task<QString> applyPostProcessing(QString text, ActiveAppContext context, QString sessionToken,
                                         RecordingMode mode, const DictationSettings& settings,
                                         EmailFormatter formatter) {
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty()) {
        co_return text;
    }
    if (!isEmailContext(context, mode) || settings.disableEmailFormatting()) {
        co_return text;
    }
    AppLogger::info(QStringLiteral("Email context detected. Applying backend email formatter."));
    FormatEmailRequestDTO request;
    request.session_token = sessionToken;
    request.text = trimmed;
    std::optional<FormatResponseDTO> answer;
    std::exception_ptr failure;
    try {
        answer = co_await formatter(request);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        AppLogger::error(QStringLiteral("Email formatter failed: ") + SessionCoordinator::describe(failure));
        co_return text;
    }
    const QString formatted = Text::trimmed(answer->text);
    if (!formatted.isEmpty() && formatted != trimmed) {
        AppLogger::info(QStringLiteral("Email formatter applied chars_before=") +
                        QString::number(Text::graphemeCount(trimmed)) + QStringLiteral(" chars_after=") +
                        QString::number(Text::graphemeCount(formatted)));
        co_return formatted;
    }
    AppLogger::info(QStringLiteral("Email formatter returned unchanged output"));
    co_return text;
}

QString prepareOutputText(const QString& text, bool forceLowercase, bool autoSpace) {
    QString output = forceLowercase ? text.toLower() : text;
    static const QString endPunctuation = QStringLiteral(".!?:;");
    if (autoSpace && !output.isEmpty() && endPunctuation.contains(output.back())) {
        output += QLatin1Char(' ');
    }
    return output;
}

} // namespace OutputPostProcessing
