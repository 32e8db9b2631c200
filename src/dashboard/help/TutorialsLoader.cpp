#include "TutorialsLoader.h"

#include "AppLogger.h"
#include "DashboardState.h"
#include "SessionCoordinator.h"
#include "TutorialsRules.h"

#include <QDesktopServices>
#include <QPointer>

#include <optional>
#include <stdexcept>

TutorialsLoader::TutorialsLoader(DashboardState& state, Fetch fetch, Opener open, QObject* parent)
    : QObject(parent), m_state(state), m_fetch(std::move(fetch)), m_open(std::move(open)) {}

QCoro::Task<> TutorialsLoader::loadTutorials() {
    const quint64 generation = ++m_generation;
    const QPointer<TutorialsLoader> self(this);
    m_state.setTutorialsStatusText(TutorialsRules::kLoadingStatus);

    std::optional<TutorialsResponseDTO> response;
    QString failure;
    try {
        if (!m_fetch) {
            throw std::runtime_error("The backend is not reachable.");
        }
        QCoro::Task<TutorialsResponseDTO> fetching = m_fetch();
        response = co_await fetching;
    } catch (...) {
        failure = SessionCoordinator::describe(std::current_exception());
    }
    // The page (and the state it shows) may be gone, or a newer load may own the outcome by now.
    if (!self || generation != self->m_generation) {
        co_return;
    }
    if (response) {
        const qsizetype count = response->tutorials.size();
        self->m_state.setTutorials(response->tutorials);
        self->m_state.setTutorialsStatusText(TutorialsRules::loadedStatus(count));
        AppLogger::info(QStringLiteral("Loaded tutorials count=") + QString::number(count));
    } else {
        // A good list from an earlier load stays: a failed Reload only says it could not be refreshed.
        self->m_state.setTutorialsStatusText(
            TutorialsRules::failedStatus(!self->m_state.tutorials().isEmpty()));
        AppLogger::error(QStringLiteral("Failed to load tutorials: ") + failure);
    }
}

void TutorialsLoader::openTutorialURL(const QString& text) {
    const std::optional<QUrl> url = TutorialsRules::openableURL(text);
    if (!url) {
        // The text comes from the backend: it is not echoed into the log.
        AppLogger::info(QStringLiteral("Did not open tutorial URL: not an http or https link"));
        return;
    }
    if (m_open) {
        m_open(*url);
    } else {
        QDesktopServices::openUrl(*url);
    }
    AppLogger::info(QStringLiteral("Opened tutorial URL ") + url->toString(QUrl::FullyEncoded));
}
