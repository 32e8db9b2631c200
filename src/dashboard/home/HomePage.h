#pragma once

#include <QList>
#include <QWidget>

class DashboardState;
class FitToWidth;
class HistoryCard;
class PageHeader;
class QLabel;
class ShortcutHero;
struct DashboardServices;

// The home page: the greeting with the usage chips, the shortcut banner and the history card. It follows
// the identity, the session figures, the settings, the coordinator and the history as each changes.
class HomePage : public QWidget {
    Q_OBJECT
public:
    HomePage(DashboardState& state, DashboardServices& services, QWidget* parent = nullptr);

    FitToWidth* statChips() const { return m_chips; }

private:
    void syncHeader();

    DashboardServices& m_services;
    PageHeader* m_header;
    FitToWidth* m_chips;
    // Each chip label with the figure it shows: 0 words (with suffix), 1 words, 2 minutes, 3 short minutes,
    // 4 pace.
    QList<std::pair<QLabel*, int>> m_chipTexts;
};
