#pragma once

#include "HttpMessage.h"
#include "RequestRecord.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace standin {

class BackendState;

// One request as a route sees it: the record of what was sent plus what reading its multipart body found.
struct Incoming {
    Incoming(std::shared_ptr<const ReceivedRequest> request, std::optional<std::string> error)
        : shared(std::move(request)), rec(*shared), multipartError(std::move(error)) {}

    std::shared_ptr<const ReceivedRequest> shared; // the same object the request record keeps
    const ReceivedRequest& rec;
    std::optional<std::string> multipartError; // set when the body is not a well-formed multipart form
};

// A route answers one request; it may throw HttpError for a short text answer.
using RouteHandler = std::function<HttpResponse(const Incoming&)>;

// The endpoints by path and method. A group of routes lives in a file of its own and is added with one
// call of its RouteGroup function (see StandinBackend.cpp).
class RouteTable {
public:
    // `path` is matched exactly, or, when it ends in "/*", as a prefix of every path below it (the
    // longest such prefix wins). A GET route answers HEAD as well.
    void add(const std::string& method, const std::string& path, RouteHandler handler);

    struct Match {
        const RouteHandler* handler = nullptr; // null: no route for the method
        bool pathKnown = false;                // some method has a route for the path
        std::string allow;                     // the path's methods, for a 405's Allow header
    };
    Match find(const std::string& method, const std::string& path) const;

private:
    const std::map<std::string, RouteHandler>* methodsFor(const std::string& path) const;

    std::map<std::string, std::map<std::string, RouteHandler>> m_exact;
    std::map<std::string, std::map<std::string, RouteHandler>> m_prefixes; // key without the "*"
};

using RouteGroup = void (*)(RouteTable& routes, BackendState& state);

} // namespace standin
