#include "TutorialsRules.h"

namespace TutorialsRules {

QString loadedStatus(qsizetype count) {
    if (count == 0) {
        return kEmptyListStatus;
    }
    return QStringLiteral("Loaded ") + QString::number(count) + QStringLiteral(" tutorials.");
}

QString failedStatus(bool listShown) {
    return listShown ? kRefreshFailedStatus : kLoadFailedStatus;
}

std::optional<QUrl> openableURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) {
        return std::nullopt;
    }
    const QString scheme = url.scheme();
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 &&
        scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    return url;
}

} // namespace TutorialsRules
