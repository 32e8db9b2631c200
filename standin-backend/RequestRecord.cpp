#include "RequestRecord.h"

namespace standin {

void RequestRecord::add(ReceivedRequest request) {
    std::lock_guard lock(m_mutex);
    if (m_limit == 0)
        return;
    while (m_requests.size() >= m_limit)
        m_requests.pop_front();
    m_requests.push_back(std::move(request));
}

void RequestRecord::clear() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void RequestRecord::setLimit(std::size_t limit) {
    std::lock_guard lock(m_mutex);
    m_limit = limit;
    while (m_requests.size() > m_limit)
        m_requests.pop_front();
}

std::size_t RequestRecord::limit() const {
    std::lock_guard lock(m_mutex);
    return m_limit;
}

std::vector<ReceivedRequest> RequestRecord::all() const {
    std::lock_guard lock(m_mutex);
    return {m_requests.begin(), m_requests.end()};
}

std::optional<ReceivedRequest> RequestRecord::last(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
        if (it->path == path)
            return *it;
    }
    return std::nullopt;
}

} // namespace standin
