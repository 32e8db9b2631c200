#pragma once

#include "ActiveAppContext.h"
#include "DesktopEntryNames.h"
#include "FrontmostWindowSource.h"

#include <QMap>
#include <QStringList>

#include <memory>
#include <optional>

// Describes the frontmost application: its name (the Name of its desktop entry, else the window's class),
// its class (from the active window's class hint), the title
// of its focused window (else of the window it belongs to, else of any window of its process; at most
// maxWindowTitleLength characters) and a coarse category guessed from keywords. Main thread only; reads the
// window system afresh on every call.
class ActiveAppContextService {
public:
    static inline const QString unknownApplication = QStringLiteral("Unknown Application");
    static inline const QString unknownWindow = QStringLiteral("Unknown Window");
    // A longer title (a browser tab's page title can run to kilobytes) is cut to its first this many
    // user-perceived characters before anything sees it: the prompt, the request fields, the category.
    static constexpr qsizetype maxWindowTitleLength = 200;

    explicit ActiveAppContextService(
        std::shared_ptr<FrontmostWindowSource> windows,
        std::shared_ptr<DesktopEntryNames> names = std::make_shared<DesktopEntryNames>());

    // Category key -> lower-case keywords, in the order they are tried.
    const QMap<QString, QStringList> categoryKeywords;

    // The order in which categories are tried: the first category with a matching keyword wins.
    static const QStringList& categoryOrder();

    ActiveAppContext currentContext();

    // The category of the first keyword (categories in categoryOrder(), keywords in their order) that occurs
    // as a plain substring of "<name> <identifier> <title>", lower-cased. A name or identifier that is a
    // terminal emulator's (the list the copy and paste chords use) counts as a "terminal" keyword.
    std::optional<QString> detectCategory(const QString& appName,
                                          const std::optional<QString>& bundleIdentifier,
                                          const QString& windowTitle) const;
    static QString buildDebugDescription(const QString& appName, const std::optional<QString>& category,
                                         const QString& windowTitle);

private:
    QString applicationName(const FrontmostWindow& window);
    std::optional<QString> frontmostWindowTitle(const std::optional<FrontmostWindow>& window);
    std::optional<QString> title(std::optional<quint64> window);
    std::optional<QString> titleForAnyWindow(qint64 processId);

    std::shared_ptr<FrontmostWindowSource> m_windows;
    std::shared_ptr<DesktopEntryNames> m_names;
};
