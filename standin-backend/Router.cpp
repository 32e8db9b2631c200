#include "Router.h"

#include "Multipart.h"
#include "TextUtil.h"

#include <optional>
#include <stdexcept>

namespace standin {

Incoming Router::capture(HttpRequest& request) {
    auto shared = std::make_shared<ReceivedRequest>();
    std::optional<std::string> multipartError;
    ReceivedRequest& rec = *shared;
    rec.method = request.method;
    rec.path = request.path;
    rec.rawQuery = request.rawQuery;
    rec.queryItems = parseQuery(rec.rawQuery);
    for (const auto& [name, value] : request.headers) {
        auto [it, inserted] = rec.headers.emplace(toLower(name), value);
        if (!inserted)
            it->second += ", " + value;
    }
    rec.body = std::move(request.body);

    const auto contentType = rec.headers.find("content-type");
    if (contentType == rec.headers.end() || !startsWithNoCase(contentType->second, "multipart/form-data")) {
        multipartError = "expected a multipart/form-data body";
    } else if (auto boundary = multipartBoundary(contentType->second); !boundary) {
        multipartError = "multipart body without a boundary";
    } else {
        try {
            for (MultipartPart& part : parseMultipart(rec.body, *boundary)) {
                const bool isFile = part.fileName.has_value() || part.name == "audio";
                if (isFile) {
                    if (!rec.file || (rec.file->name != "audio" && part.name == "audio"))
                        rec.file = FilePart{part.name, part.fileName.value_or(std::string()),
                                            part.contentType, std::move(part.content)};
                } else {
                    rec.formFields[part.name] = std::move(part.content);
                }
            }
        } catch (const HttpError& e) {
            multipartError = e.message;
            rec.formFields.clear();
            rec.file.reset();
        }
    }
    return Incoming(std::move(shared), std::move(multipartError));
}

void Router::recordRefused(HttpRequest& request) {
    m_record.add(capture(request).shared);
}

HttpResponse Router::dispatch(HttpRequest& request) {
    const Incoming in = capture(request);
    m_record.add(in.shared);
    const std::string& path = in.rec.path;

    std::optional<ScriptedResponse> scripted;
    int missingStatus = 0;
    {
        std::unique_lock lock(m_mutex);
        const auto delay = m_delays.find(path);
        if (delay != m_delays.end()) {
            const auto until = std::chrono::steady_clock::now() + delay->second;
            m_wake.wait_until(lock, until, [this] { return m_interrupted; });
        }
        if (m_interrupted)
            return HttpResponse::text(503, "stand-in backend is stopping");
        if (const auto m = m_missing.find(path); m != m_missing.end())
            missingStatus = m->second;
        else if (auto s = m_scripts.find(path); s != m_scripts.end() && !s->second.empty()) {
            scripted = std::move(s->second.front());
            s->second.pop_front();
        }
    }

    if (missingStatus == 404)
        return HttpResponse::text(404, "not found: " + path);
    if (missingStatus == 405)
        return HttpResponse::text(405, "method not allowed: " + in.rec.method + " " + path);
    if (scripted)
        return HttpResponse{scripted->status, scripted->contentType, scripted->body, {}};

    const RouteTable::Match route = m_routes.find(in.rec.method, path);
    if (!route.pathKnown)
        return HttpResponse::text(404, "not found: " + path);
    if (!route.handler) {
        HttpResponse res = HttpResponse::text(405, "method not allowed: " + in.rec.method + " " + path);
        res.headers.emplace_back("Allow", route.allow);
        return res;
    }
    try {
        return (*route.handler)(in);
    } catch (const HttpError& e) {
        return HttpResponse::text(e.status, e.message);
    }
}

void Router::scriptNext(const std::string& path, ScriptedResponse response) {
    std::lock_guard lock(m_mutex);
    m_scripts[path].push_back(std::move(response));
}

void Router::setDelay(const std::string& path, std::chrono::milliseconds delay) {
    std::lock_guard lock(m_mutex);
    if (delay.count() <= 0)
        m_delays.erase(path);
    else
        m_delays[path] = delay;
}

void Router::setMissing(const std::string& path, int status) {
    if (status != 0 && status != 404 && status != 405)
        throw std::invalid_argument("setMissing takes 404, 405 or 0, not " + std::to_string(status));
    std::lock_guard lock(m_mutex);
    if (status == 0)
        m_missing.erase(path);
    else
        m_missing[path] = status;
}

void Router::clearScripts() {
    std::lock_guard lock(m_mutex);
    m_scripts.clear();
    m_delays.clear();
    m_missing.clear();
}

void Router::interrupt() {
    {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_wake.notify_all();
}

void Router::resume() {
    std::lock_guard lock(m_mutex);
    m_interrupted = false;
}

} // namespace standin
