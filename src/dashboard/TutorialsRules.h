#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The texts and checks of the Tutorials page that need no widget.
namespace TutorialsRules {

inline const QString kLoadingStatus = QStringLiteral("Loading tutorials...");
inline const QString kNoneConfiguredStatus = QStringLiteral("No tutorials configured.");
inline const QString kFallbackStatus =
    QStringLiteral("Using built-in fallback guidance. Backend tutorials unavailable.");
inline const QString kEmptyListText = QStringLiteral("No tutorials are available right now.");

// The status after a successful load of `count` tutorials: "No tutorials configured." for none, else
// "Loaded <count> tutorials." (always the plural).
QString loadedStatus(qsizetype count);

// The link a tutorial's "Watch" button may open: a valid absolute http or https URL with a host (the
// scheme in any case). Anything else (other schemes, relative or unparsable text) gives nothing, so a
// backend answer can never make the desktop open a local file or run a handler of another scheme.
std::optional<QUrl> openableURL(const QString& text);

} // namespace TutorialsRules
