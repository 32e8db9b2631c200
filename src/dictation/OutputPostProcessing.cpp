#include "OutputPostProcessing.h"

#include "AppLogger.h"
#include "DictationServices.h"
#include "EditChord.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace OutputPostProcessing {

const QStringList& mailClientNames() {
    static const QStringList names{
        // Desktop mail clients.
        "thunderbird", "betterbird", "evolution", "geary", "kmail", "kmail2", "claws mail", "sylpheed",
        "balsa", "trojita", "mailspring", "electron mail", "prospect mail", "tutanota", "tuta mail",
        // Desktop clients of the web mail services (and the services' names, which wrapper apps take).
        "gmail", "outlook", "superhuman", "fastmail", "hey email", "spark mail", "mailbird", "mimestream",
        "proton mail", "protonmail", "yahoo mail", "zoho mail", "private email"};
    return names;
}

const QStringList& webMailTitleWords() {
    static const QStringList words{"gmail",      "outlook",    "fastmail",  "proton mail", "protonmail",
                                   "yahoo mail", "zoho mail",  "aol mail",  "icloud mail", "hey.com",
                                   "hey email",  "superhuman", "tuta mail", "tutanota",    "private email",
                                   "roundcube",  "webmail"};
    return words;
}

const QStringList& composeTitleHints() {
    static const QStringList hints{"inbox", "compose", "new message", "reply", "email", "e-mail"};
    return hints;
}

namespace {
// Whole names that mark a mail client only when they are all there is of the application's name or class.
const QStringList& mailClientIdentities() {
    static const QStringList identities{"mail", "hey", "front"};
    return identities;
}

// Window classes of web browsers (lower case). A class matches when it, or the last part of a reverse-DNS
// class, is one of these or one of these followed by "-" and more ("firefox-esr", "google-chrome-beta",
// "vivaldi-stable", "org.gnome.Epiphany").
const QStringList& browserClasses() {
    static const QStringList classes{
        // Gecko.
        "firefox", "firefoxdeveloperedition", "librewolf", "waterfox", "floorp", "zen", "icecat", "iceweasel",
        "seamonkey", "palemoon", "pale moon", "basilisk", "tor browser", "mullvad browser",
        // Chromium.
        "chromium", "ungoogled_chromium", "google-chrome", "chrome", "com.google.chrome", "brave-browser",
        "brave", "com.brave.browser", "microsoft-edge", "com.microsoft.edge", "vivaldi", "opera",
        "yandex-browser", "thorium",
        // WebKit, Qt WebEngine and the rest.
        "epiphany", "falkon", "konqueror", "qutebrowser", "midori", "otter-browser", "nyxt", "ladybird",
        "surf", "netsurf", "dillo", "luakit", "badwolf"};
    return classes;
}

// Window classes of code and text editors, matched like the browsers' ("code-oss", "jetbrains-idea").
const QStringList& codeEditorClasses() {
    static const QStringList classes{// Code editors and IDEs.
                                     "code", "vscodium", "codium", "cursor", "windsurf", "zed",
                                     "sublime_text", "jetbrains", "eclipse", "geany", "kdevelop", "qtcreator",
                                     "gnome-builder", "org.gnome.builder", "emacs", "gvim", "neovide",
                                     "nvim-qt", "lapce", "lite-xl", "pulsar", "atom", "brackets", "bluefish",
                                     "codeblocks", "texstudio", "texmaker", "kile",
                                     // Text editors.
                                     "kate", "kwrite", "gedit", "gnome-text-editor", "org.gnome.texteditor",
                                     "mousepad", "pluma", "xed", "featherpad", "leafpad", "notepadqq"};
    return classes;
}

// The runs of letters and digits of a text, in lower case.
QStringList wordsOf(const QString& text) {
    QStringList words;
    QString word;
    for (const QChar c : text.toLower()) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty()) {
        words << word;
    }
    return words;
}

// Whether `words` holds the words of one of `phrases`, consecutively.
bool containsAnyPhrase(const QStringList& words, const QStringList& phrases) {
    for (const QString& phrase : phrases) {
        const QStringList needle = wordsOf(phrase);
        for (qsizetype start = 0; !needle.isEmpty() && start + needle.size() <= words.size(); ++start) {
            if (std::equal(needle.begin(), needle.end(), words.begin() + start)) {
                return true;
            }
        }
    }
    return false;
}

bool isMailClientName(const QString& name) {
    const QStringList words = wordsOf(name);
    return containsAnyPhrase(words, mailClientNames()) ||
           mailClientIdentities().contains(words.join(QLatin1Char(' ')));
}

bool matchesClass(const QString& windowClass, const QStringList& classes) {
    const QString full = windowClass.trimmed().toLower();
    if (full.isEmpty()) {
        return false;
    }
    const QString last = full.section(QLatin1Char('.'), -1);
    for (const QString& known : classes) {
        for (const QString& candidate : {full, last}) {
            if (candidate == known || candidate.startsWith(known + QLatin1Char('-'))) {
                return true;
            }
        }
    }
    return false;
}
} // namespace

bool isEmailContext(const ActiveAppContext& context, RecordingMode mode) {
    if (mode == RecordingMode::Note) {
        return false;
    }
    const QString windowClass = context.bundleIdentifier.value_or(QString());
    if (EditChord::isTerminal(windowClass, context.appName) ||
        matchesClass(windowClass, codeEditorClasses()) ||
        matchesClass(context.appName, codeEditorClasses())) {
        return false;
    }
    if (isMailClientName(windowClass) || isMailClientName(context.appName)) {
        return true;
    }
    if (!matchesClass(windowClass, browserClasses())) {
        return false;
    }
    const QStringList titleWords = wordsOf(context.windowTitle);
    return containsAnyPhrase(titleWords, webMailTitleWords()) ||
           containsAnyPhrase(titleWords, composeTitleHints());
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
