#include "BackendState.h"

namespace standin {

std::string BackendState::randomHexLocked(std::size_t bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    while (out.size() < bytes * 2) {
        std::uint64_t r = m_random();
        for (int i = 0; i < 16 && out.size() < bytes * 2; ++i, r >>= 4)
            out += digits[r & 0xF];
    }
    return out;
}

std::string BackendState::randomHex(std::size_t bytes) {
    std::lock_guard lock(mutex);
    return randomHexLocked(bytes);
}

std::string BackendState::newSessionLocked(const std::string& idToken) {
    std::string token;
    do {
        token = "standin-" + randomHexLocked(20);
    } while (m_sessions.count(token) != 0);
    Session& session = m_sessions[token];
    session.idToken = idToken;
    session.used = m_useOrder.insert(m_useOrder.end(), token);
    if (!idToken.empty())
        m_sessionByIdToken[idToken] = token;
    evictLocked();
    return token;
}

std::string BackendState::openSession() {
    std::lock_guard lock(mutex);
    return newSessionLocked();
}

void BackendState::adoptSession(const std::string& token) {
    std::lock_guard lock(mutex);
    if (m_sessions.count(token) != 0)
        return;
    Session& session = m_sessions[token];
    session.used = m_useOrder.insert(m_useOrder.end(), token);
    evictLocked();
}

Session* BackendState::findSessionLocked(const std::string& token) {
    const auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return nullptr;
    m_useOrder.splice(m_useOrder.end(), m_useOrder, it->second.used);
    return &it->second;
}

std::optional<std::string> BackendState::sessionForIdTokenLocked(const std::string& idToken) const {
    const auto it = m_sessionByIdToken.find(idToken);
    if (it == m_sessionByIdToken.end())
        return std::nullopt;
    return it->second;
}

std::size_t BackendState::sessionCount() const {
    std::lock_guard lock(mutex);
    return m_sessions.size();
}

void BackendState::setSessionLimit(std::size_t limit) {
    std::lock_guard lock(mutex);
    m_sessionLimit = limit < 1 ? 1 : limit;
    evictLocked();
}

void BackendState::setTranscript(const std::string& text) {
    std::lock_guard lock(mutex);
    m_transcript = text;
}

void BackendState::setSignInRefusal(const std::string& reason) {
    std::lock_guard lock(mutex);
    m_signInRefusal = reason;
}

void BackendState::evictLocked() {
    while (m_sessions.size() > m_sessionLimit)
        dropLocked(m_sessions.find(m_useOrder.front()));
}

void BackendState::dropLocked(std::map<std::string, Session>::iterator it) {
    const auto byId = m_sessionByIdToken.find(it->second.idToken);
    if (byId != m_sessionByIdToken.end() && byId->second == it->first)
        m_sessionByIdToken.erase(byId);
    m_useOrder.erase(it->second.used);
    m_sessions.erase(it);
}

} // namespace standin
