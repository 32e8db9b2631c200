#pragma once

#include "TutorialsLoader.h"

#include <QWidget>

class DashboardState;
class QLabel;
class QVBoxLayout;
struct DashboardServices;

// The Tutorials page: a Reload button in the header and one card with the status sentence (the one
// sentence of the card's state) over the tutorials of the dashboard state, each with "Watch on YouTube"
// and "Copy Link". Shown with an empty list, it loads.
class TutorialsPage : public QWidget {
    Q_OBJECT
public:
    TutorialsPage(DashboardState& state, const DashboardServices& services, QWidget* parent = nullptr);
    TutorialsPage(DashboardState& state, TutorialsLoader::Fetch fetch, TutorialsLoader::Opener open,
                  QWidget* parent = nullptr);

    TutorialsLoader& loader() const { return *m_loader; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void syncStatus();
    void rebuildRows();
    QWidget* makeRow(const TutorialItemDTO& tutorial);

    DashboardState& m_state;
    TutorialsLoader* m_loader;
    QLabel* m_status;
    QWidget* m_rows;
    QVBoxLayout* m_rowsLayout;
};
