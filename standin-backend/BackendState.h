#pragma once

#include "HttpMessage.h"

#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>

namespace standin {

struct Session {
    std::optional<QJsonObject> profile;
    qint64 totalWords = 0;
    qint64 lifetimeWords = 0;
    double totalMinutes = 0;
    double lifetimeMinutes = 0;
    std::optional<QJsonObject> config;
    QString lastUpdatedAt;

    std::string idToken;                   // the identity token that opened it, if any
    std::list<std::string>::iterator used; // its place in the use order
};

// What the routes share: the open sessions, the scripted transcript and a random source. Sessions are
// kept up to a limit; past it the one used least recently is dropped, as a real backend expires them.
class BackendState {
public:
    static constexpr std::size_t defaultSessionLimit = 1000;

    // Guards everything below; the *Locked members expect the caller to hold it.
    mutable std::mutex mutex;

    std::string randomHexLocked(std::size_t bytes);
    std::string randomHex(std::size_t bytes);

    std::string newSessionLocked(const std::string& idToken = std::string());
    std::string openSession();
    // Opens a session under a token issued before (kept when it is already open).
    void adoptSession(const std::string& token);
    // The session of that token, marked as just used; nullptr when unknown.
    Session* findSessionLocked(const std::string& token);
    // The token of the session last opened with that identity token.
    std::optional<std::string> sessionForIdTokenLocked(const std::string& idToken) const;
    std::size_t sessionCount() const;
    void setSessionLimit(std::size_t limit);

    std::string transcriptLocked() const { return m_transcript; }
    void setTranscript(const std::string& text);
    // Non-empty: every sign-in (a session asked for with an identity token) is refused with this reason.
    std::string signInRefusalLocked() const { return m_signInRefusal; }
    void setSignInRefusal(const std::string& reason);

private:
    void evictLocked();
    void dropLocked(std::map<std::string, Session>::iterator it);

    std::map<std::string, Session> m_sessions;
    std::map<std::string, std::string> m_sessionByIdToken;
    std::list<std::string> m_useOrder; // least recently used first
    std::size_t m_sessionLimit = defaultSessionLimit;
    std::string m_transcript;
    std::string m_signInRefusal;
    std::mt19937_64 m_random{std::random_device{}()};
};

} // namespace standin
