#pragma once

#include "APIModels.h"

#include <QObject>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>

class DashboardState;

// Fetches the tutorials into the dashboard state and opens their links. Loads may overlap (the page's
// first load and a Reload, or two Reloads): only the newest one's outcome is applied, an older one that
// finishes later is dropped. Main thread only.
class TutorialsLoader : public QObject {
    Q_OBJECT
public:
    using Fetch = std::function<QCoro::Task<TutorialsResponseDTO>()>;
    using Opener = std::function<void(const QUrl&)>;

    // An empty `fetch` fails every load as unreachable; an empty `open` opens through QDesktopServices.
    TutorialsLoader(DashboardState& state, Fetch fetch, Opener open, QObject* parent = nullptr);

    // Shows "Loading tutorials...", fetches, then stores the list and its status sentence, or on any
    // failure keeps the list there is and says the load failed. Never throws. Callers may drop the task.
    QCoro::Task<> loadTutorials();
    // Opens the link in the browser when it is an http or https URL; anything else is only logged.
    void openTutorialURL(const QString& text);

private:
    DashboardState& m_state;
    Fetch m_fetch;
    Opener m_open;
    quint64 m_generation = 0; // of the newest load
};
