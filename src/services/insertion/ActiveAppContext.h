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

    friend bool operator==(const ActiveAppContext&, const ActiveAppContext&) = default;
};
