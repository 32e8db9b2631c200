#include "HttpServer.h"

#include "TextUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;

// A request that cannot be served: answered with this status and message, then the connection closes.
struct Refusal {
    int status;
    std::string message;
};

const char* reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

int millisUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

// Splits a header value list ("a, b,c") into trimmed items.
std::vector<std::string_view> listItems(std::string_view value) {
    std::vector<std::string_view> items;
    while (true) {
        const auto comma = value.find(',');
        items.push_back(trim(value.substr(0, comma)));
        if (comma == std::string_view::npos)
            return items;
        value.remove_prefix(comma + 1);
    }
}

bool headerHasToken(const HttpRequest& request, std::string_view name, std::string_view token) {
    for (const auto& [key, value] : request.headers) {
        if (!equalsNoCase(key, name))
            continue;
        for (std::string_view item : listItems(value)) {
            if (equalsNoCase(item, token))
                return true;
        }
    }
    return false;
}

} // namespace

// One accepted socket: reads requests from it within their deadlines and writes the answers.
class HttpServer::Connection {
public:
    Connection(const HttpServer& server, int fd) : m_server(server), m_options(server.m_options), m_fd(fd) {}
    ~Connection() { releaseBody(); }

    void run() {
        Clock::time_point deadline = Clock::now() + m_options.requestDeadline;
        for (std::size_t served = 0; served < m_options.maxRequestsPerConnection; ++served) {
            if (served > 0) {
                // Between requests the connection may idle; the next request's deadline starts with its
                // first byte.
                if (m_buffer.empty() && !fill(Clock::now() + m_options.idleTimeout))
                    return;
                deadline = Clock::now() + m_options.requestDeadline;
            }
            if (!serveOne(deadline, served + 1 < m_options.maxRequestsPerConnection))
                return;
        }
    }

    // Best effort when something unexpected went wrong: a 500 unless an answer was begun already.
    void failed(const char* what) {
        if (!m_answerStarted)
            writeResponse(HttpResponse::text(500, std::string("stand-in backend failure: ") + what), false,
                          false);
    }

private:
    enum class Read { Data, Closed, TimedOut };

    // Reads what is available into the buffer; false on end of stream, an error or the deadline.
    bool fill(Clock::time_point deadline) { return fillOnce(deadline) == Read::Data; }

    Read fillOnce(Clock::time_point deadline) {
        char chunk[64 * 1024];
        std::size_t got = 0;
        const Read result = receiveSome(chunk, sizeof chunk, deadline, got);
        m_buffer.append(chunk, got);
        return result;
    }

    Read receiveSome(char* to, std::size_t room, Clock::time_point deadline, std::size_t& got) {
        while (true) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, millisUntil(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0)
                return Read::TimedOut;
            if (ready < 0)
                return Read::Closed;
            const ssize_t n = ::recv(m_fd, to, room, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Read::Closed;
            got = static_cast<std::size_t>(n);
            return Read::Data;
        }
    }

    // Counts `bytes` more of the current request's body against the server's cap on bytes in flight.
    void chargeBody(std::size_t bytes) {
        std::atomic<std::size_t>& inFlight = m_server.m_bodyBytesInFlight;
        std::size_t held = inFlight.load();
        do {
            if (bytes > m_options.maxBodyBytesInFlight - std::min(held, m_options.maxBodyBytesInFlight))
                throw Refusal{503, "too many request bytes in flight; try again shortly"};
        } while (!inFlight.compare_exchange_weak(held, held + bytes));
        m_charged += bytes;
    }

    void releaseBody() {
        m_server.m_bodyBytesInFlight -= m_charged;
        m_charged = 0;
    }

    // Appends received bytes to a body, charged first; room grows with the bytes, never past `expected`.
    void growBody(std::string& body, const char* data, std::size_t count, std::size_t expected) {
        chargeBody(count);
        const std::size_t needed = body.size() + count;
        if (body.capacity() < needed)
            body.reserve(std::max(needed, std::min(expected, body.capacity() * 2)));
        body.append(data, count);
    }

    // Serves one request; false when the connection is to be closed.
    bool serveOne(Clock::time_point deadline, bool mayKeepAlive) {
        struct Release {
            Connection& connection;
            ~Release() { connection.releaseBody(); }
        } release{*this};
        HttpRequest request;
        bool headRead = false;
        bool keepAlive = false;
        try {
            readHead(request, deadline);
            headRead = true;
            keepAlive = mayKeepAlive && wantsKeepAlive(request);
            readBody(request, deadline);
        } catch (const Refusal& refusal) {
            if (refusal.status == 0)
                return false; // closed or silent before a request began: nothing to answer
            request.body.clear();
            request.body.shrink_to_fit();
            releaseBody();
            if (headRead && m_server.m_refused)
                m_server.m_refused(request);
            writeResponse(HttpResponse::text(refusal.status, refusal.message), false,
                          request.method == "HEAD");
            lingeringClose(deadline);
            return false;
        }

        HttpResponse response;
        try {
            response = m_server.m_handler(request);
        } catch (const std::exception& e) {
            response = HttpResponse::text(500, std::string("stand-in backend failure: ") + e.what());
        } catch (...) {
            response = HttpResponse::text(500, "stand-in backend failure: unknown error");
        }
        request.body.clear();
        request.body.shrink_to_fit();
        releaseBody();
        keepAlive = keepAlive && !m_server.m_stopping.load();
        return writeResponse(response, keepAlive, request.method == "HEAD") && keepAlive;
    }

    // Reads up to and including the empty line after the headers, and parses it.
    void readHead(HttpRequest& request, Clock::time_point deadline) {
        std::size_t end = std::string::npos;
        std::size_t separator = 0;
        std::size_t searchFrom = 0;
        while (true) {
            // Empty lines before a request line are allowed and skipped.
            const auto first = m_buffer.find_first_not_of("\r\n");
            if (first == std::string::npos) {
                m_buffer.clear();
            } else if (first > 0) {
                m_buffer.erase(0, first);
            }
            const std::size_t crlf = m_buffer.find("\r\n\r\n", searchFrom);
            const std::size_t lf = m_buffer.find("\n\n", searchFrom);
            if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
                end = crlf;
                separator = 4;
                break;
            }
            if (lf != std::string::npos) {
                end = lf;
                separator = 2;
                break;
            }
            if (m_buffer.size() > m_options.maxHeadBytes)
                throw Refusal{431, "request head too large (limit " + std::to_string(m_options.maxHeadBytes) +
                                       " bytes)"};
            searchFrom = m_buffer.size() >= 3 ? m_buffer.size() - 3 : 0;
            const bool began = !m_buffer.empty();
            switch (fillOnce(deadline)) {
            case Read::Data:
                break;
            case Read::Closed:
                throw Refusal{began ? 400 : 0, "request head incomplete"};
            case Read::TimedOut:
                throw Refusal{began ? 408 : 0, "request head not received in time"};
            }
        }
        if (end > m_options.maxHeadBytes)
            throw Refusal{431, "request head too large (limit " + std::to_string(m_options.maxHeadBytes) +
                                   " bytes)"};
        const std::string head = m_buffer.substr(0, end);
        m_buffer.erase(0, end + separator);
        parseHead(head, request);
    }

    void parseHead(std::string_view head, HttpRequest& request) {
        std::vector<std::string_view> lines;
        while (!head.empty()) {
            const auto eol = head.find('\n');
            std::string_view line = head.substr(0, eol);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            lines.push_back(line);
            head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 1);
        }
        if (lines.empty())
            throw Refusal{400, "empty request line"};

        const std::string_view requestLine = lines.front();
        const auto sp1 = requestLine.find(' ');
        const auto sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
        if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos)
            throw Refusal{400, "malformed request line"};
        const std::string_view method = requestLine.substr(0, sp1);
        const std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::string_view version = requestLine.substr(sp2 + 1);
        if (!isToken(method))
            throw Refusal{400, "malformed request method"};
        if (version != "HTTP/1.1" && version != "HTTP/1.0") {
            if (version.rfind("HTTP/", 0) == 0)
                throw Refusal{505, "HTTP version not supported"};
            throw Refusal{400, "malformed request line"};
        }
        m_http10 = version == "HTTP/1.0";
        request.method = std::string(method);
        request.target = std::string(target);

        std::string_view pathAndQuery = target;
        if (startsWithNoCase(pathAndQuery, "http://") || startsWithNoCase(pathAndQuery, "https://")) {
            const auto slash = pathAndQuery.find('/', pathAndQuery.find("//") + 2);
            pathAndQuery =
                slash == std::string_view::npos ? std::string_view("/") : pathAndQuery.substr(slash);
        }
        if (pathAndQuery == "*" && method == "OPTIONS") {
            request.path = "*";
        } else if (pathAndQuery.empty() || pathAndQuery.front() != '/') {
            throw Refusal{400, "malformed request target"};
        } else {
            pathAndQuery = pathAndQuery.substr(0, pathAndQuery.find('#'));
            const auto question = pathAndQuery.find('?');
            request.path = percentDecode(pathAndQuery.substr(0, question), false);
            if (question != std::string_view::npos)
                request.rawQuery = std::string(pathAndQuery.substr(question + 1));
        }

        if (lines.size() - 1 > m_options.maxHeaderCount)
            throw Refusal{431,
                          "too many header fields (limit " + std::to_string(m_options.maxHeaderCount) + ")"};
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            if (line.front() == ' ' || line.front() == '\t')
                throw Refusal{400, "folded header lines are not accepted"};
            const auto colon = line.find(':');
            if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
                throw Refusal{400, "malformed header line"};
            request.headers.emplace_back(std::string(line.substr(0, colon)),
                                         std::string(trim(line.substr(colon + 1))));
        }
    }

    bool wantsKeepAlive(const HttpRequest& request) const {
        if (headerHasToken(request, "Connection", "close"))
            return false;
        return !m_http10 || headerHasToken(request, "Connection", "keep-alive");
    }

    // The declared body length, if any; refuses conflicting or malformed values.
    std::optional<std::uint64_t> contentLength(const HttpRequest& request) const {
        std::optional<std::uint64_t> length;
        for (const auto& [name, value] : request.headers) {
            if (!equalsNoCase(name, "Content-Length"))
                continue;
            for (std::string_view item : listItems(value)) {
                if (item.empty() ||
                    !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    throw Refusal{400, "invalid Content-Length \"" + std::string(item) + "\""};
                const std::uint64_t parsed = item.size() > 18 ? UINT64_MAX : std::stoull(std::string(item));
                if (length && *length != parsed)
                    throw Refusal{400, "conflicting Content-Length values"};
                length = parsed;
            }
        }
        return length;
    }

    std::size_t bodyLimit() const { return std::min(m_options.maxBodyBytes, m_options.maxBodyBytesInFlight); }

    Refusal tooLarge() const {
        return Refusal{413, "request body too large (limit " + std::to_string(bodyLimit()) + " bytes)"};
    }

    void readBody(HttpRequest& request, Clock::time_point deadline) {
        std::optional<std::string> transferEncoding;
        for (const auto& [name, value] : request.headers) {
            if (equalsNoCase(name, "Transfer-Encoding"))
                transferEncoding = transferEncoding ? *transferEncoding + ", " + value : value;
        }
        const std::optional<std::uint64_t> length = contentLength(request);
        if (transferEncoding) {
            if (length)
                throw Refusal{400, "both Content-Length and Transfer-Encoding sent"};
            if (!equalsNoCase(trim(*transferEncoding), "chunked"))
                throw Refusal{501, "transfer coding not supported: " + *transferEncoding};
            continueIfExpected(request);
            readChunked(request.body, deadline);
            return;
        }
        if (!length) {
            const std::string& m = request.method;
            if (m == "POST" || m == "PUT" || m == "PATCH")
                throw Refusal{411, "a " + m + " request needs a Content-Length"};
            return;
        }
        if (*length > bodyLimit())
            throw tooLarge();
        if (*length > 0)
            continueIfExpected(request);
        // The declared length is only a claim: room is taken as the bytes arrive.
        const auto size = static_cast<std::size_t>(*length);
        const std::size_t buffered = std::min(size, m_buffer.size());
        growBody(request.body, m_buffer.data(), buffered, size);
        m_buffer.erase(0, buffered);
        char chunk[64 * 1024];
        while (request.body.size() < size) {
            std::size_t got = 0;
            expectData(receiveSome(chunk, std::min(sizeof chunk, size - request.body.size()), deadline, got),
                       "request body");
            growBody(request.body, chunk, got, size);
        }
    }

    void needMore(Clock::time_point deadline, const char* what) { expectData(fillOnce(deadline), what); }

    static void expectData(Read result, const char* what) {
        switch (result) {
        case Read::Data:
            return;
        case Read::Closed:
            throw Refusal{400, std::string(what) + " incomplete"};
        case Read::TimedOut:
            throw Refusal{408, std::string(what) + " not received in time"};
        }
    }

    // One line of the chunked framing, without its line end.
    std::string readLine(Clock::time_point deadline) {
        constexpr std::size_t kMaxLine = 4096;
        while (true) {
            const auto eol = m_buffer.find('\n');
            if (eol != std::string::npos) {
                if (eol > kMaxLine)
                    throw Refusal{400, "chunk line too long"};
                std::string line = m_buffer.substr(0, eol);
                m_buffer.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            if (m_buffer.size() > kMaxLine)
                throw Refusal{400, "chunk line too long"};
            needMore(deadline, "chunked body");
        }
    }

    void readChunked(std::string& body, Clock::time_point deadline) {
        while (true) {
            const std::string line = readLine(deadline);
            const std::string_view sizeText = trim(std::string_view(line).substr(0, line.find(';')));
            std::uint64_t size = 0;
            if (sizeText.empty())
                throw Refusal{400, "malformed chunk size"};
            for (char c : sizeText) {
                const char* digits = "0123456789abcdef";
                const char* at = std::strchr(digits, std::tolower(static_cast<unsigned char>(c)));
                if (!at || c == '\0')
                    throw Refusal{400, "malformed chunk size"};
                if (size > (UINT64_MAX >> 4))
                    throw tooLarge();
                size = size * 16 + static_cast<std::uint64_t>(at - digits);
            }
            if (size == 0)
                break;
            if (size > bodyLimit() - body.size())
                throw tooLarge();
            const std::size_t target = body.size() + static_cast<std::size_t>(size);
            while (body.size() < target) {
                const std::size_t take = std::min(target - body.size(), m_buffer.size());
                growBody(body, m_buffer.data(), take, target);
                m_buffer.erase(0, take);
                if (body.size() < target)
                    needMore(deadline, "chunked body");
            }
            if (!readLine(deadline).empty())
                throw Refusal{400, "chunk not followed by a line end"};
        }
        // Trailer fields are read and ignored, within the head's size limit.
        std::size_t trailerBytes = 0;
        while (true) {
            const std::string line = readLine(deadline);
            if (line.empty())
                return;
            trailerBytes += line.size();
            if (trailerBytes > m_options.maxHeadBytes)
                throw Refusal{431, "chunked trailer too large"};
        }
    }

    void continueIfExpected(const HttpRequest& request) {
        if (!m_http10 && headerHasToken(request, "Expect", "100-continue"))
            sendAll("HTTP/1.1 100 Continue\r\n\r\n", 0);
    }

    bool writeResponse(const HttpResponse& response, bool keepAlive, bool headOnly) {
        m_answerStarted = true;
        const int status = response.status;
        const bool bodyless = (status >= 100 && status < 200) || status == 204 || status == 304;
        std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
        if (!bodyless) {
            if (!response.contentType.empty())
                head += "Content-Type: " + response.contentType + "\r\n";
            head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        }
        head += keepAlive ? (m_http10 ? "Connection: keep-alive\r\n" : "") : "Connection: close\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += "\r\n";
        const bool withBody = !bodyless && !headOnly && !response.body.empty();
        if (!sendAll(head, withBody ? MSG_MORE : 0))
            return false;
        return !withBody || sendAll(response.body, 0);
    }

    bool sendAll(std::string_view data, int flags) {
        const Clock::time_point deadline = Clock::now() + m_options.writeDeadline;
        while (!data.empty()) {
            const ssize_t n = ::send(m_fd, data.data(), data.size(), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{m_fd, POLLOUT, 0};
                const int wait = millisUntil(deadline);
                if (wait == 0 || (::poll(&p, 1, wait) <= 0 && errno != EINTR))
                    return false;
                continue;
            }
            return false;
        }
        return true;
    }

    // After an error answer the client may still be sending; reading its rest before closing keeps the
    // kernel from resetting the connection before the answer has been read.
    void lingeringClose(Clock::time_point deadline) {
        ::shutdown(m_fd, SHUT_WR);
        const Clock::time_point until = std::min(deadline, Clock::now() + std::chrono::seconds(2));
        while (!m_server.m_stopping.load()) {
            m_buffer.clear();
            if (!fill(until))
                return;
        }
    }

    const HttpServer& m_server;
    const Options& m_options;
    const int m_fd;
    std::string m_buffer;
    bool m_http10 = false;
    bool m_answerStarted = false;
    std::size_t m_charged = 0; // the current request's share of the server's bytes in flight
};

HttpServer::HttpServer(Options options, Handler handler, RefusalObserver refused)
    : m_options(std::move(options)), m_handler(std::move(handler)), m_refused(std::move(refused)) {}

HttpServer::~HttpServer() {
    stop();
}

int HttpServer::start(const std::string& address, int port) {
    if (m_listenFd >= 0)
        throw std::runtime_error("server already started");
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof(sockaddr_in);
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
               inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof(sockaddr_in6);
        family = AF_INET6;
    } else {
        throw std::runtime_error("not a numeric address: \"" + address + "\"");
    }

    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot open a socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 128) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("cannot bind " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    const int boundPort = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                                  : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);

    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        ::close(fd);
        throw std::runtime_error(std::string("cannot create an eventfd: ") + std::strerror(errno));
    }
    m_listenFd = fd;
    m_stopping = false;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return boundPort;
}

void HttpServer::acceptLoop() {
    while (!m_stopping.load()) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 1000);
        reapFinished();
        if (ready <= 0 || !(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // let connections end first
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

        std::unique_lock lock(m_mutex);
        if (m_connections >= m_options.maxConnections) {
            lock.unlock();
            static const char busy[] =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                "Content-Length: 21\r\nConnection: close\r\n\r\ntoo many connections\n";
            ::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        ++m_connections;
        m_pending.push_back(fd);
        if (m_idle >= m_pending.size()) {
            m_work.notify_one();
            continue;
        }
        try {
            Worker& worker = m_workers.emplace_back();
            worker.thread = std::thread([this, &worker] { work(&worker); });
        } catch (const std::exception&) {
            m_workers.pop_back();
            if (m_workers.empty()) { // no thread to take it
                m_pending.pop_back();
                --m_connections;
                ::close(fd);
            }
        }
    }
    ::close(m_listenFd);
}

void HttpServer::work(Worker* self) {
    // How long a thread without a connection waits for the next before it ends.
    constexpr auto kLinger = std::chrono::seconds(30);
    std::unique_lock lock(m_mutex);
    while (true) {
        ++m_idle;
        const bool gotOne =
            m_work.wait_for(lock, kLinger, [this] { return m_stopping.load() || !m_pending.empty(); });
        --m_idle;
        if (m_stopping.load() || !gotOne) {
            self->finished = true;
            return;
        }
        self->fd = m_pending.front();
        m_pending.pop_front();
        lock.unlock();
        serve(self->fd);
        lock.lock();
        ::close(self->fd);
        self->fd = -1;
        --m_connections;
    }
}

void HttpServer::serve(int fd) {
    try {
        Connection connection(*this, fd);
        try {
            connection.run();
        } catch (const std::exception& e) {
            connection.failed(e.what());
        } catch (...) {
            connection.failed("unknown error");
        }
    } catch (...) {
    }
}

void HttpServer::reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->finished) {
                done.push_back(std::move(it->thread));
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread& t : done)
        t.join();
}

void HttpServer::stop() {
    if (m_listenFd < 0)
        return;
    m_stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        for (Worker& worker : m_workers) {
            if (worker.fd >= 0)
                ::shutdown(worker.fd, SHUT_RDWR);
            threads.push_back(std::move(worker.thread));
        }
        for (const int fd : m_pending)
            ::close(fd);
        m_connections -= m_pending.size();
        m_pending.clear();
    }
    m_work.notify_all();
    for (std::thread& t : threads)
        t.join();
    m_workers.clear();
    ::close(m_wakeFd);
    m_wakeFd = -1;
    m_listenFd = -1;
}

std::size_t HttpServer::openConnections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

} // namespace standin
