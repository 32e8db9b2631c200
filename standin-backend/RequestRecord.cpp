#include "RequestRecord.h"

namespace standin {

void RequestRecord::add(std::shared_ptr<const ReceivedRequest> request) {
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
    std::vector<ReceivedRequest> out;
    out.reserve(m_requests.size());
    for (const auto& request : m_requests)
        out.push_back(*request);
    return out;
}

std::optional<ReceivedRequest> RequestRecord::last(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
        if ((*it)->path == path)
            return **it;
    }
    return std::nullopt;
}

} // namespace standin
