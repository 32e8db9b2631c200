#pragma once

#include <QString>

#include <optional>

// The application the user is dictating into, as the prompt and the formatting see it.
struct ActiveAppContext {
    QString appName;                         // or "Unknown Application"
    std::optional<QString> bundleIdentifier; // the window's class on X11
    QString windowTitle;                     // trimmed, or "Unknown Window"
    std::optional<QString> category;         // one of ActiveAppContextService::categoryOrder()
    QString debugDescription;                // "Name (CATEGORY) - Title", "(GENERAL)" without a category
    std::optional<quint64> windowId;         // the window itself, to bring it back for a retry
    std::optional<qint64> processId;         // the program that owned it then

    // What log lines say of the context: the application and its category, never the window's title.
    QString logDescription() const {
        return appName + (category ? QStringLiteral(" (") + category->toUpper() + QLatin1Char(')')
                                   : QStringLiteral(" (GENERAL)"));
    }

    friend bool operator==(const ActiveAppContext&, const ActiveAppContext&) = default;
};
