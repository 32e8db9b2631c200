#include "StandinBackend.h"

#include "ApiRoutes.h"
#include "BackendState.h"
#include "StandinIdentityProvider.h"

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace standin {
namespace {

// Every group of routes the stand-in answers; a new group is one more entry.
constexpr RouteGroup kRouteGroups[] = {
    addApiRoutes,
    addIdentityProviderRoutes,
};

// The address to bind for an accepted host, or nothing when the host is not a loopback address.
std::optional<std::string> loopbackBindAddress(const std::string& host) {
    if (host == "localhost")
        return std::string("127.0.0.1");
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&v4.s_addr);
        if (bytes[0] == 127)
            return host;
        return std::nullopt;
    }
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    in6_addr v6{};
    if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6))
        return bare;
    return std::nullopt;
}

} // namespace

struct StandinBackend::Impl {
    explicit Impl(const Options& options) : options(options), record(options.recordLimit), router(record) {
        state.setSessionLimit(options.sessionLimit);
        for (const RouteGroup group : kRouteGroups)
            group(router.routes(), state);
    }

    Options options;
    RequestRecord record;
    BackendState state;
    Router router;
    std::unique_ptr<HttpServer> server;
    std::atomic<std::int64_t> handlingNanoseconds{0};
    int port = 0;
    std::string urlHost;
};

StandinBackend::StandinBackend() : StandinBackend(Options{}) {}

StandinBackend::StandinBackend(Options options) : d(std::make_unique<Impl>(options)) {
    d->options.server.maxBodyBytes = std::min(d->options.server.maxBodyBytes, maxBodyBytes);
}

StandinBackend::~StandinBackend() {
    stop();
}

int StandinBackend::start(const std::string& host, int port) {
    const std::optional<std::string> bindAddress = loopbackBindAddress(host);
    if (!bindAddress)
        throw std::runtime_error("stand-in backend listens on loopback addresses only, not \"" + host + "\"");
    if (port < 0 || port > 65535)
        throw std::runtime_error("invalid port " + std::to_string(port));
    if (d->server)
        throw std::runtime_error("stand-in backend is already running on port " + std::to_string(d->port));

    Router* router = &d->router;
    std::atomic<std::int64_t>* handling = &d->handlingNanoseconds;
    auto server = std::make_unique<HttpServer>(
        d->options.server,
        [router, handling](HttpRequest& request) {
            const auto start = std::chrono::steady_clock::now();
            HttpResponse response = router->dispatch(request);
            const auto spent = std::chrono::steady_clock::now() - start;
            handling->fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count(),
                                std::memory_order_relaxed);
            return response;
        },
        [router](HttpRequest& request) { router->recordRefused(request); });
    d->router.resume();
    d->port = server->start(*bindAddress, port);
    d->server = std::move(server);
    d->urlHost = bindAddress->find(':') != std::string::npos ? "[" + *bindAddress + "]" : *bindAddress;
    return d->port;
}

void StandinBackend::stop() {
    if (!d->server)
        return;
    d->router.interrupt();
    d->server->stop();
    d->server.reset();
}

bool StandinBackend::isLoopbackHost(const std::string& host) {
    return loopbackBindAddress(host).has_value();
}

int StandinBackend::port() const {
    return d->port;
}

std::string StandinBackend::baseUrl() const {
    return "http://" + (d->urlHost.empty() ? std::string("127.0.0.1") : d->urlHost) + ":" +
           std::to_string(d->port);
}

void StandinBackend::scriptNext(const std::string& path, ScriptedResponse response) {
    d->router.scriptNext(path, std::move(response));
}

void StandinBackend::setDelay(const std::string& path, std::chrono::milliseconds delay) {
    d->router.setDelay(path, delay);
}

void StandinBackend::setMissing(const std::string& path, int status) {
    d->router.setMissing(path, status);
}

void StandinBackend::setTranscript(const std::string& text) {
    d->state.setTranscript(text);
}

void StandinBackend::refuseSignIns(const std::string& reason) {
    d->state.setSignInRefusal(reason);
}

void StandinBackend::reset() {
    d->router.clearScripts();
    d->state.setTranscript(std::string());
    d->state.setSignInRefusal(std::string());
    d->record.clear();
}

std::string StandinBackend::openSession() {
    return d->state.openSession();
}

void StandinBackend::adoptSession(const std::string& token) {
    d->state.adoptSession(token);
}

std::size_t StandinBackend::sessionCount() const {
    return d->state.sessionCount();
}

std::vector<ReceivedRequest> StandinBackend::received() const {
    return d->record.all();
}

std::optional<ReceivedRequest> StandinBackend::lastRequest(const std::string& path) const {
    return d->record.last(path);
}

int StandinBackend::receivedCount(const std::string& method, const std::string& path) const {
    int count = 0;
    for (const ReceivedRequest& request : d->record.all()) {
        if (request.method == method && request.path == path) {
            ++count;
        }
    }
    return count;
}

void StandinBackend::setRecordLimit(std::size_t limit) {
    d->record.setLimit(limit);
}

std::chrono::nanoseconds StandinBackend::handlingTime() const {
    return std::chrono::nanoseconds(d->handlingNanoseconds.load(std::memory_order_relaxed));
}

} // namespace standin
