#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The texts and checks of the Tutorials page that need no widget.
namespace TutorialsRules {

// The card shows one sentence for its state: loading, the list's count, no tutorials, or a failed load
// (a failed Reload keeps the list shown before and says so).
inline const QString kLoadingStatus = QStringLiteral("Loading tutorials...");
inline const QString kEmptyListStatus = QStringLiteral("No tutorials are available right now.");
inline const QString kLoadFailedStatus =
    QStringLiteral("Couldn't load the tutorials. Check your connection and press Reload.");
inline const QString kRefreshFailedStatus =
    QStringLiteral("Couldn't refresh the tutorials. Showing the last list.");

// The status after a successful load of `count` tutorials: "No tutorials are available right now." for
// none, else "Loaded <count> tutorials." (always the plural).
QString loadedStatus(qsizetype count);
// The status after a failed load: whether a list from an earlier load is still shown.
QString failedStatus(bool listShown);

// The link a tutorial's "Watch" button may open: a valid absolute http or https URL with a host (the
// scheme in any case). Anything else (other schemes, relative or unparsable text) gives nothing, so a
// backend answer can never make the desktop open a local file or run a handler of another scheme.
std::optional<QUrl> openableURL(const QString& text);

} // namespace TutorialsRules
