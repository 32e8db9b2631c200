#pragma once

#include "HttpServer.h"
#include "RequestRecord.h"
#include "Router.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A small stand-in for the product's backend, listening on a loopback address only. It answers every
// endpoint the desktop client calls, keeps bounded state in memory and can be scripted by tests.
namespace standin {

class StandinBackend {
public:
    static constexpr std::size_t maxBodyBytes = 32 * 1024 * 1024;

    struct Options {
        HttpServer::Options server;
        std::size_t recordLimit = RequestRecord::defaultLimit; // requests kept for received()
        std::size_t sessionLimit = 1000; // open sessions kept, least recently used dropped
    };

    StandinBackend();
    explicit StandinBackend(Options options);
    ~StandinBackend(); // stops the server
    StandinBackend(const StandinBackend&) = delete;
    StandinBackend& operator=(const StandinBackend&) = delete;

    // Starts listening; port 0 picks a free one. Returns the port. Throws std::runtime_error when the
    // host is not a loopback address or the port cannot be bound.
    int start(const std::string& host = "127.0.0.1", int port = 0);
    // Ends every pending delay, closes every connection and returns once they are closed.
    void stop();
    int port() const;
    std::string baseUrl() const; // "http://127.0.0.1:<port>"

    // Scripting. A scripted answer is used once, for the next request to that path (FIFO per path).
    void scriptNext(const std::string& path, ScriptedResponse response);
    // Every request to the path waits this long before it is answered (zero clears it).
    void setDelay(const std::string& path, std::chrono::milliseconds delay);
    // The path answers this status (404 or 405) with a short text body until cleared with 0.
    void setMissing(const std::string& path, int status);
    // The text of the next transcription answers (both endpoints) until changed; empty restores the
    // placeholder that names the clip's length.
    void setTranscript(const std::string& text);
    // Refuses every sign-in (a session asked for with an identity token) with 403 and this reason as the
    // body, as a backend refuses an account it does not admit; an empty reason admits them again. Open
    // sessions stay usable.
    void refuseSignIns(const std::string& reason);
    void reset(); // drops every script, delay, missing path, sign-in refusal and recorded request

    // A fresh valid session token, as if an identity token had been exchanged.
    std::string openSession();
    // Accepts a session token issued by an earlier run of the stand-in (its sessions live in memory
    // only): a test that restarts the stand-in keeps its client signed in, as a real backend would.
    void adoptSession(const std::string& token);
    std::size_t sessionCount() const;

    // The last requests received (at most the record limit), in arrival order.
    std::vector<ReceivedRequest> received() const;
    std::optional<ReceivedRequest> lastRequest(const std::string& path) const;
    // How many of received() went to `path` with `method`.
    int receivedCount(const std::string& method, const std::string& path) const;
    void setRecordLimit(std::size_t limit);

    // The time the stand-in itself spent answering requests since it was made: from the whole request
    // read to its answer ready to be written, summed over every answered request (scripted delays
    // included). Benchmarks subtract it from a client's round trip to see the client's own share.
    std::chrono::nanoseconds handlingTime() const;

    // Whether start() accepts the host: 127.x.x.x, "localhost" or ::1.
    static bool isLoopbackHost(const std::string& host);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace standin
