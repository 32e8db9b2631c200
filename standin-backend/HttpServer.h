#pragma once

#include "HttpMessage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

// A small HTTP/1.1 server for the stand-in: one thread per open connection up to a limit, a deadline over
// each request's head and body, bodies bounded whether framed by Content-Length or chunked, an answer for
// every request it reads (also after the client has shut down its sending side) and a stop that closes
// every connection at once.
//
// Memory follows what arrives, not what a client declares: a body grows as its bytes come in, and the
// bytes of all bodies being read or handled at once are capped (a request that would pass the cap is
// answered 503, one that could never fit under it 413).
class HttpServer {
public:
    struct Options {
        std::size_t maxBodyBytes = 32 * 1024 * 1024;
        // The request bodies held at once, across every connection.
        std::size_t maxBodyBytesInFlight = 128 * 1024 * 1024;
        std::size_t maxHeadBytes = 64 * 1024;
        std::size_t maxHeaderCount = 100;
        // From a connection's start (or a kept-alive request's first byte) to the end of the request body.
        std::chrono::milliseconds requestDeadline{10000};
        // How long a kept-alive connection may stay silent between requests.
        std::chrono::milliseconds idleTimeout{5000};
        // How long writing one answer may take.
        std::chrono::milliseconds writeDeadline{10000};
        std::size_t maxConnections = 128;
        std::size_t maxRequestsPerConnection = 100;
    };

    // The handler may take the request's body over.
    using Handler = std::function<HttpResponse(HttpRequest&)>;
    // Told of a request that was refused before the handler saw it, once its head had been read.
    using RefusalObserver = std::function<void(HttpRequest&)>;

    HttpServer(Options options, Handler handler, RefusalObserver refused);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds a numeric address and starts accepting; port 0 picks a free one. Returns the port bound.
    // Throws std::runtime_error when the address cannot be bound.
    int start(const std::string& address, int port);
    // Closes the listener and every open connection, and returns once their threads have ended.
    void stop();

    std::size_t openConnections() const;
    // Bytes of request bodies received and not yet released (their requests still being read or handled).
    std::size_t bodyBytesInFlight() const { return m_bodyBytesInFlight.load(); }

private:
    class Connection;

    struct Worker {
        std::thread thread;
        int fd = -1; // the connection it serves, -1 while idle
        bool finished = false;
    };

    void acceptLoop();
    void work(Worker* self);
    void serve(int fd);
    void reapFinished();

    const Options m_options;
    const Handler m_handler;
    const RefusalObserver m_refused;

    int m_listenFd = -1;
    int m_wakeFd = -1;
    std::thread m_acceptThread;
    std::atomic<bool> m_stopping{false};
    mutable std::atomic<std::size_t> m_bodyBytesInFlight{0};

    // One thread serves one connection at a time. Threads outlive their connection for a while and take
    // the next one, so that a burst of short connections does not start a thread for each.
    mutable std::mutex m_mutex;
    std::condition_variable m_work;
    std::deque<int> m_pending;     // accepted, not yet taken by a worker
    std::list<Worker> m_workers;   // stable addresses for the workers' own entries
    std::size_t m_idle = 0;        // workers waiting for a connection
    std::size_t m_connections = 0; // accepted and not yet closed
};

} // namespace standin
