#pragma once

#include "DashboardLook.h"
#include "TranscriptionHistoryEntry.h"

#include <QUuid>

class DashboardState;
class QLabel;
class TranscriptionHistoryStore;

// The home page's list of the 12 newest transcripts under the heading "Today" (whatever their dates): the
// clock time, the text, a meta line (public label • application • how long ago) and a copy button. A click
// anywhere on a row, or on its button, copies the transcript once; the pointer over a button shows
// "Copy Transcript" above it.
class HistoryCard : public SurfaceCard {
    Q_OBJECT
public:
    static constexpr int kShownEntries = 12;

    HistoryCard(TranscriptionHistoryStore& store, DashboardState& state, QWidget* parent = nullptr);

    // Rebuilds the rows from the store.
    void rebuild();

private:
    TranscriptionHistoryStore& m_store;
    DashboardState& m_state;
    QLabel* m_empty;
    QWidget* m_list;
};
