#pragma once

#include "HttpMessage.h"
#include "RequestRecord.h"
#include "RouteTable.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace standin {

struct ScriptedResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

// Turns a request into an answer: records it, applies what a test scripted for its path (a missing
// endpoint, a delay, a canned answer) and otherwise calls its route.
class Router {
public:
    explicit Router(RequestRecord& record) : m_record(record) {}

    RouteTable& routes() { return m_routes; }

    // Takes the request's body over instead of copying it.
    HttpResponse dispatch(HttpRequest& request);
    // A request refused before it reached a route (its body too large, unreadable, ...): recorded as sent.
    void recordRefused(HttpRequest& request);

    void scriptNext(const std::string& path, ScriptedResponse response);
    void setDelay(const std::string& path, std::chrono::milliseconds delay);
    void setMissing(const std::string& path, int status);
    void clearScripts();
    // Ends every delay at once and answers 503 from then on, until resume().
    void interrupt();
    void resume();

    static Incoming capture(HttpRequest& request);

private:
    RequestRecord& m_record;
    RouteTable m_routes;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
    std::map<std::string, std::deque<ScriptedResponse>> m_scripts;
    std::map<std::string, std::chrono::milliseconds> m_delays;
    std::map<std::string, int> m_missing;
};

} // namespace standin
