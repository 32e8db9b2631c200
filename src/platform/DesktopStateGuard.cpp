#include "DesktopStateGuard.h"

#include "SupportLog.h"

#include <algorithm>
#include <exception>
#include <utility>

DesktopStateGuard::Hold::Hold(Hold&& other) noexcept
    : m_guard(std::exchange(other.m_guard, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

DesktopStateGuard::Hold& DesktopStateGuard::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        m_guard = std::exchange(other.m_guard, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void DesktopStateGuard::Hold::release() {
    if (m_guard) {
        m_guard->release(m_id);
        m_guard = nullptr;
        m_id = 0;
    }
}

bool DesktopStateGuard::Hold::isHeld() const {
    return m_guard && m_guard->contains(m_id);
}

DesktopStateGuard& DesktopStateGuard::instance() {
    static DesktopStateGuard* guard = new DesktopStateGuard;
    return *guard;
}

DesktopStateGuard::Hold DesktopStateGuard::hold(QString what, Needs needs, std::function<void()> undo) {
    std::lock_guard lock(m_mutex);
    const std::uint64_t id = m_nextId++;
    m_entries.push_back({id, std::move(what), needs, std::move(undo)});
    return Hold(this, id);
}

void DesktopStateGuard::release(std::uint64_t id) {
    std::function<void()> dropped; // destroyed outside the lock: its captures may take holds themselves
    std::lock_guard lock(m_mutex);
    const auto it =
        std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
    if (it != m_entries.end()) {
        dropped = std::move(it->undo);
        m_entries.erase(it);
    }
}

bool DesktopStateGuard::contains(std::uint64_t id) const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
}

QStringList DesktopStateGuard::held() const {
    std::lock_guard lock(m_mutex);
    QStringList names;
    for (const Entry& entry : m_entries) {
        names << entry.what;
    }
    return names;
}

void DesktopStateGuard::undoAll() {
    undo(true);
}

void DesktopStateGuard::undoWithoutDisplay() {
    undo(false);
}

void DesktopStateGuard::undo(bool includeDisplay) {
    markLeaving();
    for (const Needs group : {Needs::Nothing, Needs::Display}) {
        if (group == Needs::Display && !includeDisplay) {
            return;
        }
        // One at a time, newest first, each taken off the list before it runs and without the lock held:
        // an undo waits for other threads that may be taking or dropping holds meanwhile.
        for (;;) {
            Entry entry{};
            {
                std::lock_guard lock(m_mutex);
                const auto it = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                             [group](const Entry& e) { return e.needs == group; });
                if (it == m_entries.rend()) {
                    break;
                }
                entry = std::move(*it);
                m_entries.erase(std::next(it).base());
            }
            try {
                entry.undo();
            } catch (const std::exception& error) {
                SupportLog::error(QStringLiteral("Failed to restore ") + entry.what + QStringLiteral(": ") +
                                 QString::fromUtf8(error.what()));
            } catch (...) {
                SupportLog::error(QStringLiteral("Failed to restore ") + entry.what);
            }
        }
    }
}
