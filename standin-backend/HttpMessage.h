#pragma once

#include <string>
#include <utility>
#include <vector>

// The stand-in's own view of one HTTP exchange, independent of how the connection is read or written.
namespace standin {

struct HttpRequest {
    std::string method;
    std::string target;                                       // as sent on the request line
    std::string path;                                         // the target's path, percent-decoded
    std::string rawQuery;                                     // as sent, still percent-encoded, without "?"
    std::vector<std::pair<std::string, std::string>> headers; // as sent, in order
    std::string body;                                         // after any chunked framing is removed
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // besides Content-Type and Content-Length

    static HttpResponse text(int status, std::string text) {
        return HttpResponse{status, "text/plain", std::move(text), {}};
    }
};

// An answer other than 2xx, thrown anywhere inside a route and written as a short text body.
struct HttpError {
    int status;
    std::string message;
};

} // namespace standin
