#include "SelectedTextService.h"

#include "AppLogger.h"
#include "ClipboardRestorer.h"
#include "Scheduler.h"
#include "TextUtilities.h"

#include <QClipboard>
#include <QMimeData>
#include <QPointer>

namespace {
QString messageFor(SelectedTextError::Kind kind) {
    switch (kind) {
    case SelectedTextError::Kind::AccessibilityPermissionRequired:
        return QStringLiteral(
            "Reading the selected text needs an X11 display with the XTest and XInput2 extensions, and "
            "none could be used. Run Quillvane in an X11 session (or under XWayland) with DISPLAY set.");
    case SelectedTextError::Kind::ClipboardReadFailed:
        return QStringLiteral("Failed to read the selected text from the clipboard.");
    case SelectedTextError::Kind::CopyCommandFailed:
        return QStringLiteral("Failed to synthesize the copy shortcut.");
    case SelectedTextError::Kind::NoSelectionCaptured:
        return QStringLiteral("No selected text was captured. Select text in the target app first.");
    }
    return {};
}

void throwIfCancelled(const std::function<bool()>& isCancelled) {
    if (isCancelled && isCancelled()) {
        throw SelectedTextCaptureCancelled();
    }
}

// The user's clipboard while we borrow it: put back when the capture ends, however it ends (an error,
// or the capture's coroutine destroyed while it waits).
class BorrowedClipboard {
public:
    BorrowedClipboard(ClipboardRestorer& restorer, ClipboardSnapshot snapshot)
        : m_restorer(restorer), m_snapshot(std::move(snapshot)) {}
    BorrowedClipboard(const BorrowedClipboard&) = delete;
    BorrowedClipboard& operator=(const BorrowedClipboard&) = delete;
    ~BorrowedClipboard() { giveBack(); }

    void giveBack() {
        if (!m_returned) {
            m_returned = true;
            m_restorer.restoreNow(m_snapshot);
        }
    }

private:
    ClipboardRestorer& m_restorer;
    ClipboardSnapshot m_snapshot;
    bool m_returned = false;
};
} // namespace

SelectedTextError::SelectedTextError(Kind kind) : UserFacingError(messageFor(kind)), m_kind(kind) {}

SelectedTextService::SelectedTextService(std::shared_ptr<KeySynthesizer> keys,
                                         std::shared_ptr<FrontmostWindowSource> windows,
                                         std::shared_ptr<AccessibleSelectionReader> accessibility,
                                         ClipboardRestorer* restorer)
    : m_keys(std::move(keys)), m_windows(std::move(windows)), m_accessibility(std::move(accessibility)),
      m_restorer(restorer) {
    isAccessibilityTrusted = [keys = m_keys] { return keys && keys->isTrusted(); };
}

SelectedTextService::~SelectedTextService() = default;

ClipboardRestorer& SelectedTextService::restorer() {
    return m_restorer ? *m_restorer : ClipboardRestorer::instance();
}

QCoro::Task<QString> SelectedTextService::captureSelectedText(std::function<bool()> isCancelled) {
    AppLogger::info(QStringLiteral("Selected text capture requested"));
    if (!isAccessibilityTrusted || !isAccessibilityTrusted()) {
        AppLogger::error(
            QStringLiteral("Selected text capture blocked: no X display with XTest and XInput2"));
        throw SelectedTextError(SelectedTextError::Kind::AccessibilityPermissionRequired);
    }
    const std::optional<FrontmostWindow> front = m_windows ? m_windows->frontmostWindow() : std::nullopt;
    const std::optional<QString> text = co_await readSelectedTextViaAccessibility(front);
    throwIfCancelled(isCancelled);
    if (text) {
        AppLogger::info(QStringLiteral("Selected text capture via accessibility chars=") +
                        QString::number(Text::graphemeCount(*text)));
        co_return *text;
    }
    co_return co_await captureSelectedTextViaClipboard(front, std::move(isCancelled));
}

QCoro::Task<std::optional<QString>>
SelectedTextService::readSelectedTextViaAccessibility(std::optional<FrontmostWindow> front) {
    using Outcome = AccessibleSelectionReader::Result::Outcome;
    if (!m_accessibility) {
        AppLogger::info(QStringLiteral("Accessibility selected text lookup unavailable status=") +
                        QString::number(AccessibleSelectionReader::statusBusUnavailable));
        co_return std::nullopt;
    }
    if (!front || !front->processId) {
        // Without the process we cannot tell which application's focused object is the user's.
        AppLogger::info(QStringLiteral("Accessibility selected text lookup skipped: the frontmost window "
                                       "has no process id (_NET_WM_PID)"));
        co_return std::nullopt;
    }
    const AccessibleSelectionReader::Result result =
        co_await m_accessibility->readFocusedSelection(*front->processId);
    switch (result.outcome) {
    case Outcome::NoFocusedObject:
        AppLogger::info(QStringLiteral("Accessibility selected text lookup unavailable status=") +
                        QString::number(result.status));
        co_return std::nullopt;
    case Outcome::TextUnavailable:
        AppLogger::info(QStringLiteral("Accessibility selected text attribute unavailable status=") +
                        QString::number(result.status));
        co_return std::nullopt;
    case Outcome::Text:
        break;
    }
    if (Text::trimmed(result.text).isEmpty()) {
        AppLogger::info(QStringLiteral("Accessibility selected text attribute returned empty content"));
        co_return std::nullopt;
    }
    co_return result.text;
}

QCoro::Task<QString>
SelectedTextService::captureSelectedTextViaClipboard(std::optional<FrontmostWindow> front,
                                                     std::function<bool()> isCancelled) {
    // Nothing touches the clipboard before we know the chord can be sent.
    if (!m_keys || !m_keys->isAvailable()) {
        AppLogger::error(QStringLiteral("Copy chord not sent: no XTest connection to the X display"));
        throw SelectedTextError(SelectedTextError::Kind::CopyCommandFailed);
    }
    co_await m_keys->waitForModifiersReleased(modifierReleaseLimit);
    throwIfCancelled(isCancelled);

    ClipboardRestorer& clipboard = restorer();
    BorrowedClipboard borrowed(clipboard, clipboard.takeUserClipboard());
    // "Clear" by owning the clipboard with nothing on it, so that whatever the copy puts there is new
    // (a clipboard manager may refill a clipboard that has no owner).
    auto* placeholder = new QMimeData;
    const QPointer<QMimeData> ours(placeholder);
    clipboard.clipboard().setMimeData(placeholder, QClipboard::Clipboard);
    if (!clipboard.serves(ours.data())) {
        // Without owning it we could not tell the copy from what was there before.
        AppLogger::error(QStringLiteral("Selected text capture failed: the clipboard could not be taken"));
        throw SelectedTextError(SelectedTextError::Kind::ClipboardReadFailed);
    }

    if (!m_keys->sendChord(EditChord::forWindow(EditAction::Copy, front))) {
        AppLogger::error(QStringLiteral("Copy chord could not be synthesized through XTest"));
        throw SelectedTextError(SelectedTextError::Kind::CopyCommandFailed);
    }

    Scheduler& scheduler = Scheduler::current();
    for (int poll = 0; poll < clipboardPollCount; ++poll) {
        co_await scheduler.delay(clipboardPollInterval);
        throwIfCancelled(isCancelled); // the borrowed clipboard goes back on the way out
        if (clipboard.serves(ours.data())) {
            continue; // nothing copied yet
        }
        const QMimeData* copied = clipboard.clipboard().mimeData(QClipboard::Clipboard);
        if (!copied || !copied->hasText()) {
            continue; // nothing, or no text (an image): keep waiting
        }
        const QString text = copied->text();
        borrowed.giveBack();
        if (Text::trimmed(text).isEmpty()) {
            AppLogger::error(QStringLiteral("Selected text capture failed: no text is currently selected"));
            throw SelectedTextError(SelectedTextError::Kind::NoSelectionCaptured);
        }
        AppLogger::info(QStringLiteral("Selected text capture result chars=") +
                        QString::number(Text::graphemeCount(text)));
        co_return text;
    }
    borrowed.giveBack();
    AppLogger::error(
        QStringLiteral("Selected text capture failed: the clipboard held no new text after the copy chord"));
    throw SelectedTextError(SelectedTextError::Kind::ClipboardReadFailed);
}
