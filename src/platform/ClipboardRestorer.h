#pragma once

#include "ClipboardPayload.h"
#include "ClipboardSnapshot.h"
#include "DesktopStateGuard.h"
#include "Scheduler.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <optional>

class QClipboard;

// Puts the user's clipboard back after we borrowed it for a copy or a paste.
//
// A paste on X11 is pulled: the target asks us for the data when it handles Ctrl+V, which may be after we
// sent the keys. So the user's clipboard comes back no earlier than `minimumRestoreDelay` after the paste,
// and only once the target has fetched our text (or `fetchWaitLimit` has passed), and only while the
// clipboard still serves our text: when the user copied something else meanwhile, that stays.
//
// While a restore waits, the next copy or paste takes its snapshot over (`takeUserClipboard`), so the
// user's own content is what comes back in the end, never our earlier text.
//
// Once the user's content is back, we own it: the desktop's clipboard manager, when one runs, is asked to
// keep it at once (X11ClipboardHandOff), so that it survives us.
class ClipboardRestorer : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds minimumRestoreDelay{400};
    static constexpr std::chrono::milliseconds fetchWaitLimit{3000};
    static constexpr std::chrono::milliseconds fetchPollInterval{20};

    explicit ClipboardRestorer(QClipboard& clipboard);
    ~ClipboardRestorer() override;

    // The one on the application's clipboard.
    static ClipboardRestorer& instance();

    QClipboard& clipboard() { return m_clipboard; }

    // What the user has on the clipboard: the snapshot of a restore that still waits (called off here),
    // else the clipboard's content now.
    ClipboardSnapshot takeUserClipboard();
    // Whether the clipboard serves `data` (we own it with that very object).
    bool serves(const QMimeData* data) const;
    void restoreNow(const ClipboardSnapshot& snapshot);
    // Restores `previous` after a paste of `payload` whose keys were just sent (see above).
    void restoreAfterPaste(ClipboardSnapshot previous, ClipboardPayload* payload);
    bool hasPendingRestore() const { return m_pending.has_value(); }
    // Ends a waiting restore at once, as if its wait were over (the application quits). While a restore
    // waits, the desktop state guard holds this as its undo.
    void finishPendingNow();

signals:
    // A waiting restore ended: `restored` is false when the clipboard no longer served our text.
    void pendingRestoreFinished(bool restored);

private:
    struct Pending {
        ClipboardSnapshot snapshot;
        QPointer<ClipboardPayload> payload;
        std::chrono::nanoseconds sentAt{};
        TimerHandle timer;
        DesktopStateGuard::Hold exitHold;
    };

    void checkPending();
    void finishPending(bool restore);
    void handOverUserContent();

    QClipboard& m_clipboard;
    std::optional<Pending> m_pending;
};
