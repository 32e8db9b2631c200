#include "ClipboardRestorer.h"

#include "Clock.h"
#include "X11ClipboardHandOff.h"

#include <QClipboard>
#include <QGuiApplication>

ClipboardRestorer::ClipboardRestorer(QClipboard& clipboard) : m_clipboard(clipboard) {}

ClipboardRestorer::~ClipboardRestorer() {
    if (m_pending) {
        m_pending->timer.cancel();
    }
}

ClipboardRestorer& ClipboardRestorer::instance() {
    // Lives as long as the application object (and its clipboard).
    static QPointer<ClipboardRestorer> shared;
    if (!shared) {
        shared = new ClipboardRestorer(*QGuiApplication::clipboard());
        shared->setParent(QGuiApplication::instance());
    }
    return *shared;
}

bool ClipboardRestorer::serves(const QMimeData* data) const {
    // mimeData() asks the X server who owns the selection: ours only while we still own it.
    return data && m_clipboard.mimeData(QClipboard::Clipboard) == data;
}

ClipboardSnapshot ClipboardRestorer::takeUserClipboard() {
    if (m_pending) {
        Pending pending = std::move(*m_pending);
        m_pending.reset();
        pending.timer.cancel();
        if (serves(pending.payload.data())) {
            return std::move(pending.snapshot);
        }
        // The user copied something after our paste: that is their clipboard now.
    }
    return ClipboardSnapshot::capture(m_clipboard);
}

void ClipboardRestorer::restoreNow(const ClipboardSnapshot& snapshot) {
    snapshot.restore(m_clipboard);
    handOverUserContent();
}

void ClipboardRestorer::handOverUserContent() {
    // We own the user's content now, and it would end with us (a crash included): the desktop's clipboard
    // manager keeps a copy. On the way out the exit path does that itself, once, after every undo.
    if (!DesktopStateGuard::instance().isLeaving()) {
        X11ClipboardHandOff::requestSave();
    }
}

void ClipboardRestorer::restoreAfterPaste(ClipboardSnapshot previous, ClipboardPayload* payload) {
    if (m_pending) {
        m_pending->timer.cancel();
    }
    m_pending = Pending{std::move(previous), payload, Clock::current().monotonic(), {}};
    m_pending->timer = Scheduler::current().singleShot(minimumRestoreDelay, [this] { checkPending(); });
    m_pending->exitHold =
        DesktopStateGuard::instance().hold(QStringLiteral("clipboard restore"),
                                           DesktopStateGuard::Needs::Display, [this] { finishPendingNow(); });
}

void ClipboardRestorer::finishPendingNow() {
    if (m_pending) {
        m_pending->timer.cancel();
        finishPending(serves(m_pending->payload.data()));
    }
}

void ClipboardRestorer::checkPending() {
    if (!m_pending) {
        return;
    }
    if (!serves(m_pending->payload.data())) {
        finishPending(false);
        return;
    }
    const bool fetched = m_pending->payload->fetchCount() > 0;
    const bool waitedLongEnough = Clock::current().monotonic() - m_pending->sentAt >= fetchWaitLimit;
    if (fetched || waitedLongEnough) {
        finishPending(true);
        return;
    }
    m_pending->timer = Scheduler::current().singleShot(fetchPollInterval, [this] { checkPending(); });
}

void ClipboardRestorer::finishPending(bool restore) {
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    if (restore) {
        pending.snapshot.restore(m_clipboard);
        handOverUserContent();
    }
    emit pendingRestoreFinished(restore);
}
