#pragma once

#include "DashboardLook.h"
#include "Scheduler.h"
#include "TranscriptionHistoryEntry.h"

#include <QDate>
#include <QHash>
#include <QUuid>

#include <chrono>

class DashboardState;
class QLabel;
class TranscriptionHistoryStore;

// The home page's list of the 12 newest transcripts, under one heading per day ("Today", "Yesterday",
// then the date): the clock time, the text, a meta line (public label • application • how long ago) and a
// copy button. A click anywhere on a row, or on its button, copies the transcript once and shows "Copied"
// beside the button for a moment; the pointer over a button shows "Copy Transcript" above it. While the
// card is shown, the times and headings are brought up to date once a minute.
class HistoryCard : public SurfaceCard {
    Q_OBJECT
public:
    static constexpr int kShownEntries = 12;
    static constexpr std::chrono::milliseconds kRefreshInterval{60'000};

    HistoryCard(TranscriptionHistoryStore& store, DashboardState& state, QWidget* parent = nullptr);
    ~HistoryCard() override;

    // Rebuilds the rows from the store.
    void rebuild();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The heading and the list of one day's entries.
    struct Day {
        QWidget* group = nullptr;
        QLabel* heading = nullptr;
        QWidget* list = nullptr;
    };
    Day makeDay();
    void syncBubble();

    TranscriptionHistoryStore& m_store;
    DashboardState& m_state;
    QLabel* m_emptyHeading;
    QLabel* m_empty;
    QWidget* m_days;
    QLabel* m_bubble;
    QHash<QDate, Day> m_dayGroups;
    QHash<QUuid, QWidget*> m_rows; // the row of each shown entry
    TimerHandle m_ticks;
};
