#include "ActiveAppContextService.h"

#include "AppLogger.h"
#include "EditChord.h"
#include "TextUtilities.h"

namespace {
QMap<QString, QStringList> makeCategoryKeywords() {
    return {
        {"code",
         {"xcode", "code", "visual studio", "vscode", "cursor", "zed", "sublime", "atom", "pycharm",
          "intellij", "vim", "emacs"}},
        {"browser", {"safari", "chrome", "firefox", "edge", "brave", "arc", "opera"}},
        {"office",
         {"word", "excel", "powerpoint", "outlook", "pages", "numbers", "keynote", "libreoffice", "soffice"}},
        {"communication",
         {"slack", "teams", "discord", "zoom", "telegram", "whatsapp", "messages", "mail", "thunderbird",
          "evolution", "geary", "kmail"}},
        {"terminal", {"terminal", "iterm", "warp", "ghostty", "alacritty"}},
        {"design", {"figma", "sketch", "photoshop", "illustrator", "canva"}},
        {"notes", {"notes", "obsidian", "notion", "bear", "typora"}},
        {"vdi",
         {"citrix", "vmware", "horizon", "remote desktop", "windows app", "remmina", "xfreerdp", "vncviewer",
          "krdc", "gnome-connections", "org.gnome.connections", "virt-viewer", "remote-viewer"}},
        {"finance", {"bloomberg", "reuters", "eikon", "factset", "tradingview"}},
    };
}
} // namespace

ActiveAppContextService::ActiveAppContextService(std::shared_ptr<FrontmostWindowSource> windows,
                                                 std::shared_ptr<DesktopEntryNames> names)
    : categoryKeywords(makeCategoryKeywords()), m_windows(std::move(windows)), m_names(std::move(names)) {}

const QStringList& ActiveAppContextService::categoryOrder() {
    static const QStringList order{"code",   "browser", "office", "communication", "terminal",
                                   "design", "notes",   "vdi",    "finance"};
    return order;
}

ActiveAppContext ActiveAppContextService::currentContext() {
    const std::optional<FrontmostWindow> front = m_windows ? m_windows->frontmostWindow() : std::nullopt;

    ActiveAppContext context;
    context.appName = front ? applicationName(*front) : unknownApplication;
    if (front && front->windowClass && !front->windowClass->isEmpty()) {
        context.bundleIdentifier = front->windowClass;
    }
    context.windowTitle = front ? frontmostWindowTitle(front).value_or(unknownWindow) : unknownWindow;
    context.category = detectCategory(context.appName, context.bundleIdentifier, context.windowTitle);
    context.debugDescription = buildDebugDescription(context.appName, context.category, context.windowTitle);
    if (front) {
        context.windowId = front->windowId;
        context.processId = front->processId;
    }
    AppLogger::info(QStringLiteral("Active app context -> ") + context.logDescription());
    return context;
}

QString ActiveAppContextService::applicationName(const FrontmostWindow& window) {
    const QString windowClass = window.windowClass.value_or(QString());
    const QString instance = window.instanceName.value_or(QString());
    if (m_names) {
        if (auto name = m_names->nameForWindow(windowClass, instance);
            name && !Text::trimmed(*name).isEmpty()) {
            return Text::trimmed(*name);
        }
    }
    if (!windowClass.isEmpty()) {
        return windowClass;
    }
    return instance.isEmpty() ? unknownApplication : instance;
}

std::optional<QString>
ActiveAppContextService::frontmostWindowTitle(const std::optional<FrontmostWindow>& window) {
    if (!window) {
        return std::nullopt;
    }
    if (auto focused = title(window->windowId)) {
        return focused;
    }
    if (auto main = title(m_windows->mainWindow(window->windowId))) {
        return main;
    }
    if (window->processId) {
        if (auto any = titleForAnyWindow(*window->processId)) {
            return any;
        }
    }
    AppLogger::info(QStringLiteral("Window title unavailable for pid=") +
                    QString::number(window->processId.value_or(0)));
    return std::nullopt;
}

std::optional<QString> ActiveAppContextService::title(std::optional<quint64> window) {
    if (!window) {
        return std::nullopt;
    }
    const std::optional<QString> raw = m_windows->windowTitle(*window);
    if (!raw) {
        return std::nullopt;
    }
    const QString trimmed = Text::trimmed(Text::leadingGraphemes(Text::trimmed(*raw), maxWindowTitleLength));
    return trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
}

std::optional<QString> ActiveAppContextService::titleForAnyWindow(qint64 processId) {
    for (quint64 window : m_windows->windowsOfProcess(processId)) {
        if (auto found = title(window)) {
            return found;
        }
    }
    return std::nullopt;
}

std::optional<QString> ActiveAppContextService::detectCategory(const QString& appName,
                                                               const std::optional<QString>& bundleIdentifier,
                                                               const QString& windowTitle) const {
    const QString haystack = appName.toLower() + QLatin1Char(' ') +
                             bundleIdentifier.value_or(QString()).toLower() + QLatin1Char(' ') +
                             windowTitle.toLower();
    const bool terminal = EditChord::isTerminal(bundleIdentifier.value_or(QString()), appName);
    for (const QString& category : categoryOrder()) {
        if (terminal && category == QLatin1String("terminal")) {
            return category;
        }
        for (const QString& keyword : categoryKeywords.value(category)) {
            if (haystack.contains(keyword)) {
                return category;
            }
        }
    }
    return std::nullopt;
}

QString ActiveAppContextService::buildDebugDescription(const QString& appName,
                                                       const std::optional<QString>& category,
                                                       const QString& windowTitle) {
    const QString label = category ? category->toUpper() : QStringLiteral("GENERAL");
    return appName + QStringLiteral(" (") + label + QStringLiteral(") - ") + windowTitle;
}
