#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A small stand-in for the product's backend, listening on a loopback address only. It answers every
// endpoint the desktop client calls, keeps its state in memory and can be scripted by tests.
namespace standin {

struct ScriptedResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

struct FilePart {
    std::string name;
    std::string fileName;
    std::string contentType;
    std::string content;
};

struct ReceivedRequest {
    std::string method;
    std::string path;
    std::string rawQuery; // as sent, still percent-encoded, without "?"
    std::vector<std::pair<std::string, std::string>> queryItems; // decoded, in order
    std::map<std::string, std::string> headers;                  // names lower-cased
    std::string body;                                            // raw bytes
    std::map<std::string, std::string> formFields;               // multipart text fields
    std::optional<FilePart> file;                                // multipart file part, when present
};

class StandinBackend {
public:
    StandinBackend();
    ~StandinBackend(); // stops the server
    StandinBackend(const StandinBackend&) = delete;
    StandinBackend& operator=(const StandinBackend&) = delete;

    // Starts listening; port 0 picks a free one. Returns the port. Throws std::runtime_error when the
    // host is not a loopback address or the port cannot be bound.
    int start(const std::string& host = "127.0.0.1", int port = 0);
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
    void reset(); // drops every script, delay, missing path and recorded request

    // A fresh valid session token, as if an identity token had been exchanged.
    std::string openSession();

    // Every request received so far, in arrival order.
    std::vector<ReceivedRequest> received() const;
    std::optional<ReceivedRequest> lastRequest(const std::string& path) const;

    static constexpr std::size_t maxBodyBytes = 32 * 1024 * 1024;

    // Whether start() accepts the host: 127.x.x.x, "localhost" or ::1.
    static bool isLoopbackHost(const std::string& host);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace standin
