#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

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

// The last requests received, oldest first, for tests to inspect. It keeps at most `limit` of them, so a
// stand-in that runs for hours holds no more than that many bodies.
class RequestRecord {
public:
    static constexpr std::size_t defaultLimit = 64;

    explicit RequestRecord(std::size_t limit = defaultLimit) : m_limit(limit) {}

    // Kept as shared, so that a route can read the request while the record holds it without a copy.
    void add(std::shared_ptr<const ReceivedRequest> request);
    void clear();
    // Drops the oldest requests beyond the new limit at once; 0 keeps none.
    void setLimit(std::size_t limit);
    std::size_t limit() const;

    std::vector<ReceivedRequest> all() const;
    std::optional<ReceivedRequest> last(const std::string& path) const;

private:
    mutable std::mutex m_mutex;
    std::size_t m_limit;
    std::deque<std::shared_ptr<const ReceivedRequest>> m_requests;
};

} // namespace standin
