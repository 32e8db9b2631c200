#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

// A bare TCP client for the stand-in's tests: sends exactly the bytes given, can shut down its sending
// side, and reads whatever comes back until the server closes or a time limit passes.
class RawClient {
public:
    explicit RawClient(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }

    // False once the server has closed or reset the connection.
    bool send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    void shutdownSending() { ::shutdown(m_fd, SHUT_WR); }

    // Everything received until the server closes the connection or `limit` passes.
    std::string readAll(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        std::string out;
        char buffer[65536];
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return out;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return out;
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closed = true;
                return out;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Whether the server closed the connection during the last readAll.
    bool closedByServer() const { return m_closed; }

    // The status code of the first answer in `reply`, 0 when there is none.
    static int status(const std::string& reply) {
        if (reply.rfind("HTTP/1.1 ", 0) != 0 || reply.size() < 12)
            return 0;
        return std::stoi(reply.substr(9, 3));
    }

    // The body of the first answer in `reply` (everything after its head).
    static std::string body(const std::string& reply) {
        const auto end = reply.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : reply.substr(end + 4);
    }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
};
