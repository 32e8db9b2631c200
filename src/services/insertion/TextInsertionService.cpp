#include "TextInsertionService.h"

#include "AppLogger.h"
#include "ClipboardPayload.h"
#include "ClipboardRestorer.h"
#include "Scheduler.h"
#include "TextUtilities.h"

#include <QClipboard>
#include <QPointer>

#include <charconv>
#include <cmath>

#include <unistd.h>

namespace {
QString messageFor(TextInsertionError::Kind kind) {
    switch (kind) {
    case TextInsertionError::Kind::AccessibilityPermissionRequired:
        return QStringLiteral(
            "Pasting or typing into other apps needs an X display with the XTest and XInput "
            "extensions. Start Quillvane in an X11 session (or a Wayland session with "
            "XWayland).");
    case TextInsertionError::Kind::ClipboardWriteFailed:
        return QStringLiteral("Failed to write text to the clipboard.");
    case TextInsertionError::Kind::EventCreationFailed:
        return QStringLiteral("Failed to synthesize the paste shortcut.");
    }
    return {};
}

// A double in its shortest exact decimal form, always with a fraction or an exponent: 0.0, 0.015, 1e-05.
QString shortestDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))) {
        text += QStringLiteral(".0");
    }
    return text;
}
} // namespace

TextInsertionError::TextInsertionError(Kind kind) : UserFacingError(messageFor(kind)), m_kind(kind) {}

TextInsertionService::TextInsertionService(std::shared_ptr<KeySynthesizer> keys,
                                           std::shared_ptr<FrontmostWindowSource> windows,
                                           ClipboardRestorer* restorer)
    : m_keys(std::move(keys)), m_windows(std::move(windows)), m_restorer(restorer) {
    isAccessibilityTrusted = [keys = m_keys] { return keys && keys->isTrusted(); };
}

ClipboardRestorer& TextInsertionService::restorer() {
    return m_restorer ? *m_restorer : ClipboardRestorer::instance();
}

QCoro::Task<> TextInsertionService::pasteText(QString text) {
    AppLogger::info(QStringLiteral("Paste requested chars=") + QString::number(Text::graphemeCount(text)));
    // Permission and event source first: a paste that cannot happen leaves the clipboard alone.
    if (!isAccessibilityTrusted || !isAccessibilityTrusted()) {
        AppLogger::error(QStringLiteral("Paste blocked: no X display with XTest and XInput"));
        throw TextInsertionError(TextInsertionError::Kind::AccessibilityPermissionRequired);
    }
    if (!m_keys || !m_keys->isAvailable()) {
        AppLogger::error(QStringLiteral("XTest unavailable for paste"));
        throw TextInsertionError(TextInsertionError::Kind::EventCreationFailed);
    }
    co_await m_keys->waitForModifiersReleased(modifierReleaseLimit);
    const std::optional<FrontmostWindow> front = m_windows ? m_windows->frontmostWindow() : std::nullopt;

    ClipboardRestorer& clipboard = restorer();
    const ClipboardSnapshot previous = clipboard.takeUserClipboard();
    auto* payload = new ClipboardPayload(text);
    const QPointer<ClipboardPayload> ours(payload); // the clipboard owns it from here on
    clipboard.clipboard().setMimeData(payload, QClipboard::Clipboard);
    if (!clipboard.serves(ours.data())) {
        clipboard.restoreNow(previous);
        throw TextInsertionError(TextInsertionError::Kind::ClipboardWriteFailed);
    }
    if (!m_keys->sendChord(EditChord::forWindow(EditAction::Paste, front))) {
        AppLogger::error(QStringLiteral("Failed to send the paste keys through XTest"));
        clipboard.restoreNow(previous);
        throw TextInsertionError(TextInsertionError::Kind::EventCreationFailed);
    }
    AppLogger::info(QStringLiteral("Paste command sent"));
    if (previous.isEmpty()) {
        co_return; // nothing to give back: our text stays on the clipboard
    }
    clipboard.restoreAfterPaste(previous, ours.data());
}

QCoro::Task<> TextInsertionService::typeText(QString text, double delay) {
    AppLogger::info(QStringLiteral("Typing insertion requested chars=") +
                    QString::number(Text::graphemeCount(text)) + QStringLiteral(" delay=") +
                    shortestDecimal(delay));
    if (!isAccessibilityTrusted || !isAccessibilityTrusted()) {
        AppLogger::error(QStringLiteral("Typing blocked: no X display with XTest and XInput"));
        throw TextInsertionError(TextInsertionError::Kind::AccessibilityPermissionRequired);
    }
    if (!m_keys || !m_keys->isAvailable()) {
        AppLogger::error(QStringLiteral("XTest unavailable for typing"));
        throw TextInsertionError(TextInsertionError::Kind::EventCreationFailed);
    }
    if (text.isEmpty()) {
        AppLogger::info(QStringLiteral("Typing insertion completed"));
        co_return;
    }
    co_await m_keys->waitForModifiersReleased(modifierReleaseLimit);
    const auto pause =
        delay > 0 && std::isfinite(delay)
            ? std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(delay))
            : std::chrono::milliseconds(0);
    try {
        co_await m_keys->typeText(text, pause);
    } catch (const KeySynthesisError& error) {
        AppLogger::error(QStringLiteral("Failed to type through XTest: ") + QString::fromUtf8(error.what()));
        throw TextInsertionError(TextInsertionError::Kind::EventCreationFailed);
    }
    AppLogger::info(QStringLiteral("Typing insertion completed"));
}

QCoro::Task<WindowRaise> TextInsertionService::bringToFront(quint64 window, std::optional<qint64> processId) {
    const auto windowOwner = [this, processId](quint64 id) -> std::optional<WindowRaise> {
        if (!m_windows || id == 0 || !m_windows->isWindowShown(id)) {
            return WindowRaise::Closed;
        }
        const std::optional<qint64> owner = m_windows->windowProcessId(id);
        if (owner && *owner == qint64(::getpid())) {
            return WindowRaise::Ours;
        }
        if (processId && owner && *owner != *processId) {
            return WindowRaise::Closed; // the id was given to another program's window
        }
        return std::nullopt;
    };
    if (const std::optional<WindowRaise> refusal = windowOwner(window)) {
        AppLogger::info(
            QStringLiteral("Target window not raised: ") +
            (*refusal == WindowRaise::Ours ? QStringLiteral("it is ours") : QStringLiteral("it is closed")));
        co_return *refusal;
    }
    const auto isActive = [this, window] {
        const std::optional<FrontmostWindow> front = m_windows->frontmostWindow();
        return front && front->windowId == window;
    };
    if (isActive()) {
        co_return WindowRaise::Raised;
    }
    if (!m_windows->requestActivation(window)) {
        AppLogger::error(QStringLiteral("Could not ask the window manager to activate the target window"));
        co_return WindowRaise::Refused;
    }
    std::chrono::milliseconds waited{0};
    while (waited < activationLimit) {
        co_await Scheduler::current().delay(activationPoll);
        waited += activationPoll;
        if (isActive()) {
            AppLogger::info(QStringLiteral("Target window raised waited_ms=") +
                            QString::number(waited.count()));
            co_return WindowRaise::Raised;
        }
        if (const std::optional<WindowRaise> refusal = windowOwner(window)) {
            co_return *refusal; // closed while we waited
        }
    }
    AppLogger::error(QStringLiteral("Target window did not become active waited_ms=") +
                     QString::number(waited.count()));
    co_return WindowRaise::Refused;
}

bool TextInsertionService::copyToClipboard(const QString& text) {
    ClipboardRestorer& clipboard = restorer();
    clipboard.takeUserClipboard(); // a restore that still waits would replace the text
    auto* payload = new ClipboardPayload(text);
    const QPointer<ClipboardPayload> ours(payload);
    clipboard.clipboard().setMimeData(payload, QClipboard::Clipboard);
    const bool served = clipboard.serves(ours.data());
    AppLogger::info(QStringLiteral("Text left on the clipboard chars=") +
                    QString::number(Text::graphemeCount(text)) +
                    (served ? QString() : QStringLiteral(" failed")));
    return served;
}
