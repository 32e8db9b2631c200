#include "StandinBackend.h"

#include <httplib.h>

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace standin {
namespace {

constexpr const char* kTextType = "text/plain";
constexpr const char* kJsonType = "application/json";

// An answer other than 2xx, raised anywhere inside a handler and written as a short text body.
struct HttpError {
    int status;
    std::string message;
};

// cpp-httplib consumes multipart bodies itself and keeps no raw bytes. To record them as sent, the
// pre-routing hook hides a multipart Content-Type from it for the duration of the request; the original
// value is kept here (the hook and the handler run on the same worker thread).
thread_local std::string t_hiddenContentType;
// Whether the current request has been recorded and answered by a handler. Errors raised by cpp-httplib
// itself (413, a body it could not read) reach only the error handler, which records the request then.
// Both flags are cleared before routing and after every response.
thread_local bool t_recorded = false;
thread_local bool t_answered = false;

const char* const kHiddenMarker = "application/x-standin-multipart";

std::string toLower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Query decoding as form servers do it: %XX escapes, '+' for a space; a malformed escape is kept literally.
std::string decodeQueryComponent(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view raw) {
    std::vector<std::pair<std::string, std::string>> items;
    while (!raw.empty()) {
        const auto amp = raw.find('&');
        const std::string_view item = raw.substr(0, amp);
        raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
        if (item.empty())
            continue;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos)
            items.emplace_back(decodeQueryComponent(item), std::string());
        else
            items.emplace_back(decodeQueryComponent(item.substr(0, eq)),
                               decodeQueryComponent(item.substr(eq + 1)));
    }
    return items;
}

std::optional<std::string> queryItem(const ReceivedRequest& rec, const std::string& name) {
    for (const auto& [key, value] : rec.queryItems) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

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

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

std::string compactJson(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

void answerText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, kTextType);
}

void answerJson(httplib::Response& res, const QJsonObject& o) {
    res.status = 200;
    res.set_content(compactJson(o), kJsonType);
}

// ---- Multipart bodies ---------------------------------------------------------------------------------

struct MultipartPart {
    std::string name;
    std::optional<std::string> fileName;
    std::string contentType;
    std::string content;
};

HttpError badMultipart(const std::string& why) {
    return HttpError{400, "malformed multipart body: " + why};
}

// Value of one Content-Disposition parameter. A quoted value runs to the quote that ends the parameter
// (followed by ';' or the end), so unescaped quotes inside a name survive.
std::optional<std::string> dispositionParameter(std::string_view header, std::string_view parameter) {
    std::size_t pos = 0;
    while (pos < header.size()) {
        const auto semi = header.find(';', pos);
        if (semi == std::string_view::npos)
            return std::nullopt;
        std::size_t start = semi + 1;
        while (start < header.size() && (header[start] == ' ' || header[start] == '\t'))
            ++start;
        if (header.substr(start, parameter.size()) == parameter && start + parameter.size() < header.size() &&
            header[start + parameter.size()] == '=') {
            const std::size_t valueStart = start + parameter.size() + 1;
            if (valueStart < header.size() && header[valueStart] == '"') {
                std::size_t q = valueStart + 1;
                while (true) {
                    q = header.find('"', q);
                    if (q == std::string_view::npos)
                        return std::string(header.substr(valueStart + 1));
                    const std::string_view rest = trim(header.substr(q + 1));
                    if (rest.empty() || rest.front() == ';')
                        return std::string(header.substr(valueStart + 1, q - valueStart - 1));
                    ++q;
                }
            }
            const auto end = header.find(';', valueStart);
            return std::string(
                trim(header.substr(valueStart, end == std::string_view::npos ? end : end - valueStart)));
        }
        pos = start;
    }
    return std::nullopt;
}

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    const std::string lower = toLower(std::string(contentType));
    const auto at = lower.find("boundary=");
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view value = contentType.substr(at + 9);
    const auto semi = value.find(';');
    value = trim(value.substr(0, semi));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (value.empty())
        return std::nullopt;
    return std::string(value);
}

std::vector<MultipartPart> parseMultipart(const std::string& body, const std::string& boundary) {
    const std::string delimiter = "--" + boundary;
    std::size_t pos;
    if (body.compare(0, delimiter.size(), delimiter) == 0) {
        pos = 0;
    } else {
        pos = body.find("\r\n" + delimiter);
        if (pos == std::string::npos)
            throw badMultipart("no boundary line");
        pos += 2;
    }

    std::vector<MultipartPart> parts;
    while (true) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0)
            return parts;
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (body.compare(pos, 2, "\r\n") != 0)
            throw badMultipart("boundary line not followed by CR LF");
        pos += 2;

        std::size_t contentStart;
        std::string_view headerBlock;
        if (body.compare(pos, 2, "\r\n") == 0) {
            contentStart = pos + 2;
        } else {
            const auto headerEnd = body.find("\r\n\r\n", pos);
            if (headerEnd == std::string::npos)
                throw badMultipart("part headers not terminated");
            headerBlock = std::string_view(body).substr(pos, headerEnd - pos);
            contentStart = headerEnd + 4;
        }
        const auto next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string::npos)
            throw badMultipart("missing closing boundary");

        MultipartPart part;
        bool named = false;
        while (!headerBlock.empty()) {
            const auto eol = headerBlock.find("\r\n");
            const std::string_view line = headerBlock.substr(0, eol);
            headerBlock = eol == std::string_view::npos ? std::string_view() : headerBlock.substr(eol + 2);
            const auto colon = line.find(':');
            if (colon == std::string_view::npos)
                throw badMultipart("part header without a colon");
            const std::string headerName = toLower(std::string(trim(line.substr(0, colon))));
            const std::string_view value = trim(line.substr(colon + 1));
            if (headerName == "content-disposition") {
                if (!startsWithNoCase(value, "form-data"))
                    throw badMultipart("part disposition is not form-data");
                if (auto name = dispositionParameter(value, "name")) {
                    part.name = *name;
                    named = true;
                }
                part.fileName = dispositionParameter(value, "filename");
            } else if (headerName == "content-type") {
                part.contentType = std::string(value);
            }
        }
        if (!named)
            throw badMultipart("part without a form-data name");
        part.content = body.substr(contentStart, next - contentStart);
        parts.push_back(std::move(part));
        pos = next + 2;
    }
}

// ---- Reading request records ----------------------------------------------------------------------------

HttpError badRequest(const std::string& message) {
    return HttpError{400, message};
}

// Reads one JSON object member by member: unknown keys are ignored, a missing or null required member
// and a value of the wrong kind fail with a message naming the member's path.
class RecordReader {
public:
    RecordReader(QJsonObject object, std::string path)
        : m_object(std::move(object)), m_path(std::move(path)) {}

    static RecordReader fromBody(const std::string& body) {
        QJsonParseError error{};
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
        if (error.error != QJsonParseError::NoError)
            throw badRequest("malformed JSON: " + utf8(error.errorString()) + " at offset " +
                             std::to_string(error.offset));
        if (!doc.isObject())
            throw badRequest("request body must be a JSON object");
        return RecordReader(doc.object(), std::string());
    }

    std::string pathOf(const std::string& key) const { return m_path.empty() ? key : m_path + "." + key; }

    std::optional<QString> optionalString(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isString())
            throw wrongKind(key, "a string");
        return v.toString();
    }

    QString requiredString(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isString())
            throw wrongKind(key, "a string");
        return v.toString();
    }

    bool requiredBool(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isBool())
            throw wrongKind(key, "a boolean");
        return v.toBool();
    }

    std::optional<bool> optionalBool(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isBool())
            throw wrongKind(key, "a boolean");
        return v.toBool();
    }

    std::optional<QJsonObject> optionalObject(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isObject())
            throw wrongKind(key, "an object");
        return v.toObject();
    }

    QJsonObject requiredObject(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isObject())
            throw wrongKind(key, "an object");
        return v.toObject();
    }

    std::optional<QJsonArray> optionalArray(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isArray())
            throw wrongKind(key, "an array");
        return v.toArray();
    }

    std::optional<RecordReader> optionalRecord(const char* key) const {
        if (auto o = optionalObject(key))
            return RecordReader(*o, pathOf(key));
        return std::nullopt;
    }

    RecordReader requiredRecord(const char* key) const {
        return RecordReader(requiredObject(key), pathOf(key));
    }

    // The elements of an array of records, each one checked to be an object.
    std::vector<RecordReader> records(const char* key, const QJsonArray& array) const {
        std::vector<RecordReader> out;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const std::string elementPath = pathOf(key) + "[" + std::to_string(i) + "]";
            if (!array.at(i).isObject())
                throw badRequest("member \"" + elementPath + "\" must be an object");
            out.emplace_back(array.at(i).toObject(), elementPath);
        }
        return out;
    }

private:
    // Undefined when an optional member is missing or null.
    QJsonValue value(const char* key, bool required) const {
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.isUndefined()) {
            if (required)
                throw badRequest("missing member \"" + pathOf(key) + "\"");
            return v;
        }
        if (v.isNull()) {
            if (required)
                throw badRequest("member \"" + pathOf(key) + "\" must not be null");
            return QJsonValue(QJsonValue::Undefined);
        }
        return v;
    }

    HttpError wrongKind(const char* key, const char* kind) const {
        return badRequest("member \"" + pathOf(key) + "\" must be " + kind);
    }

    QJsonObject m_object;
    std::string m_path;
};

void putOptional(QJsonObject& o, const char* key, const std::optional<QString>& v) {
    if (v)
        o.insert(QLatin1String(key), *v);
}

QJsonObject readProfile(const RecordReader& r) {
    QJsonObject profile;
    putOptional(profile, "email", r.optionalString("email"));
    putOptional(profile, "name", r.optionalString("name"));
    putOptional(profile, "picture", r.optionalString("picture"));
    return profile;
}

QJsonArray readSnippets(const RecordReader& parent, const char* key, const QJsonArray& array) {
    QJsonArray out;
    for (const RecordReader& r : parent.records(key, array)) {
        QJsonObject snippet;
        snippet.insert(QStringLiteral("title"), r.requiredString("title"));
        snippet.insert(QStringLiteral("value"), r.requiredString("value"));
        out.append(snippet);
    }
    return out;
}

QJsonObject readCloudConfig(const RecordReader& r) {
    QJsonObject config;
    if (auto settings = r.optionalObject("settings"))
        config.insert(QStringLiteral("settings"), *settings);
    if (auto snippets = r.optionalArray("snippets"))
        config.insert(QStringLiteral("snippets"), readSnippets(r, "snippets", *snippets));
    if (auto dictionary = r.optionalArray("dictionary")) {
        QJsonArray entries;
        for (const RecordReader& e : r.records("dictionary", *dictionary)) {
            QJsonObject entry;
            entry.insert(QStringLiteral("term"), e.requiredString("term"));
            putOptional(entry, "note", e.optionalString("note"));
            entries.append(entry);
        }
        config.insert(QStringLiteral("dictionary"), entries);
    }
    return config;
}

// The members shared by the format and title requests.
struct TokenPair {
    std::optional<QString> sessionToken;
    std::optional<QString> idToken;
};

TokenPair readTokens(const RecordReader& r) {
    return TokenPair{r.optionalString("session_token"), r.optionalString("id_token")};
}

qint64 countWords(const QString& text) {
    qint64 words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        if (c.isSpace()) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

// Length of a clip: 16 kHz mono 16-bit audio, after the 44-byte header when the data is a WAV file.
double clipSeconds(const std::string& data) {
    const bool isWav =
        data.size() >= 44 && data.compare(0, 4, "RIFF") == 0 && data.compare(8, 4, "WAVE") == 0;
    const std::size_t samplesBytes = isWav ? data.size() - 44 : data.size();
    return static_cast<double>(samplesBytes) / 32000.0;
}

std::string placeholderTranscript(double seconds) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "Stand-in transcript of a %.2f s clip.", seconds);
    return buffer;
}

struct Session {
    std::optional<QJsonObject> profile;
    qint64 totalWords = 0;
    qint64 lifetimeWords = 0;
    double totalMinutes = 0;
    double lifetimeMinutes = 0;
    std::optional<QJsonObject> config;
    QString lastUpdatedAt;
};

QJsonObject sessionJson(const Session& s, const std::string& token) {
    QJsonObject o;
    o.insert(QStringLiteral("total_words"), s.totalWords);
    o.insert(QStringLiteral("total_minutes"), s.totalMinutes);
    o.insert(QStringLiteral("lifetime_words"), s.lifetimeWords);
    o.insert(QStringLiteral("lifetime_minutes"), s.lifetimeMinutes);
    if (s.profile)
        o.insert(QStringLiteral("profile"), *s.profile);
    o.insert(QStringLiteral("session_token"), qs(token));
    return o;
}

QJsonObject configResponse(const Session& s) {
    QJsonObject o;
    o.insert(QStringLiteral("config"), s.config.value_or(QJsonObject()));
    if (!s.lastUpdatedAt.isEmpty())
        o.insert(QStringLiteral("last_updated_at"), s.lastUpdatedAt);
    return o;
}

const HttpError kInvalidSession{401, "invalid session"};

// One request as the handlers see it: the record plus what reading its multipart body found.
struct Incoming {
    ReceivedRequest rec;
    std::optional<std::string> multipartError;
};

} // namespace

struct StandinBackend::Impl {
    using Handler = void (Impl::*)(const Incoming&, httplib::Response&);
    struct Route {
        const char* method;
        Handler handler;
    };

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::string urlHost;

    std::map<std::string, std::deque<ScriptedResponse>> scripts;
    std::map<std::string, std::chrono::milliseconds> delays;
    std::map<std::string, int> missing;
    std::string transcript;
    std::map<std::string, Session> sessions;
    std::map<std::string, std::string> sessionByIdToken;
    std::vector<ReceivedRequest> received;
    std::mt19937_64 random{std::random_device{}()};

    const std::map<std::string, Route> routes{
        {"/api/session", {"POST", &Impl::handleSession}},
        {"/api/transcription", {"POST", &Impl::handleTranscription}},
        {"/api/transcription/refine", {"POST", &Impl::handleRefine}},
        {"/api/format/email", {"POST", &Impl::handleFormatEmail}},
        {"/api/format/generic", {"POST", &Impl::handleFormatGeneric}},
        {"/api/generate_title", {"POST", &Impl::handleTitle}},
        {"/api/user/config", {"*", &Impl::handleUserConfig}},
        {"/api/tutorials", {"GET", &Impl::handleTutorials}},
        {"/api/auth/apple/start", {"GET", &Impl::handleAppleStart}},
    };

    // Caller holds the mutex.
    std::string randomHex(std::size_t bytes) {
        static const char digits[] = "0123456789abcdef";
        std::string out;
        while (out.size() < bytes * 2) {
            std::uint64_t r = random();
            for (int i = 0; i < 16 && out.size() < bytes * 2; ++i, r >>= 4)
                out += digits[r & 0xF];
        }
        return out;
    }

    // Caller holds the mutex.
    std::string newSessionLocked() {
        std::string token;
        do {
            token = "standin-" + randomHex(20);
        } while (sessions.count(token) != 0);
        sessions.emplace(token, Session{});
        return token;
    }

    // Caller holds the mutex. A session token, when sent, must be known; otherwise an identity token
    // names the session last opened with it.
    std::pair<std::string, Session*> resolveSessionLocked(const TokenPair& tokens) {
        std::string token;
        if (tokens.sessionToken) {
            token = utf8(*tokens.sessionToken);
        } else if (tokens.idToken) {
            const auto it = sessionByIdToken.find(utf8(*tokens.idToken));
            if (it == sessionByIdToken.end())
                throw kInvalidSession;
            token = it->second;
        } else {
            throw kInvalidSession;
        }
        const auto it = sessions.find(token);
        if (it == sessions.end())
            throw kInvalidSession;
        return {token, &it->second};
    }

    // Format and title requests: a session token, when sent, must be known; an identity token or no
    // token at all is accepted.
    void checkOptionalSession(const TokenPair& tokens) {
        if (!tokens.sessionToken)
            return;
        std::lock_guard lock(mutex);
        if (sessions.count(utf8(*tokens.sessionToken)) == 0)
            throw kInvalidSession;
    }

    Incoming capture(const httplib::Request& req) {
        Incoming in;
        ReceivedRequest& rec = in.rec;
        rec.method = req.method;
        rec.path = req.path;
        const auto question = req.target.find('?');
        if (question != std::string::npos)
            rec.rawQuery = req.target.substr(question + 1);
        rec.queryItems = parseQuery(rec.rawQuery);
        for (const auto& [name, value] : req.headers) {
            std::string key = toLower(name);
            // cpp-httplib adds the connection's addresses as pseudo headers; they were not sent.
            if (key == "remote_addr" || key == "remote_port" || key == "local_addr" || key == "local_port")
                continue;
            std::string v = value;
            if (key == "content-type" && !t_hiddenContentType.empty() && value == kHiddenMarker)
                v = t_hiddenContentType;
            auto [it, inserted] = rec.headers.emplace(key, v);
            if (!inserted)
                it->second += ", " + v;
        }
        rec.body = req.body;

        const auto contentType = rec.headers.find("content-type");
        if (contentType == rec.headers.end() ||
            !startsWithNoCase(contentType->second, "multipart/form-data")) {
            in.multipartError = "expected a multipart/form-data body";
        } else if (auto boundary = multipartBoundary(contentType->second); !boundary) {
            in.multipartError = "multipart body without a boundary";
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
                in.multipartError = e.message;
                rec.formFields.clear();
                rec.file.reset();
            }
        }
        return in;
    }

    void record(const ReceivedRequest& rec) {
        std::lock_guard lock(mutex);
        received.push_back(rec);
        t_recorded = true;
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        const Incoming in = capture(req);
        record(in.rec);
        t_answered = true;
        const std::string& path = in.rec.path;

        std::optional<ScriptedResponse> scripted;
        int missingStatus = 0;
        {
            std::unique_lock lock(mutex);
            const auto delay = delays.find(path);
            if (delay != delays.end() && delay->second.count() > 0) {
                const auto until = std::chrono::steady_clock::now() + delay->second;
                wake.wait_until(lock, until, [this] { return stopping; });
            }
            if (stopping) {
                lock.unlock();
                answerText(res, 503, "stand-in backend is stopping");
                return;
            }
            if (const auto m = missing.find(path); m != missing.end())
                missingStatus = m->second;
            else if (auto s = scripts.find(path); s != scripts.end() && !s->second.empty()) {
                scripted = std::move(s->second.front());
                s->second.pop_front();
            }
        }

        if (missingStatus == 404) {
            answerText(res, 404, "not found: " + path);
            return;
        }
        if (missingStatus == 405) {
            answerText(res, 405, "method not allowed: " + in.rec.method + " " + path);
            return;
        }
        if (scripted) {
            res.status = scripted->status;
            res.set_content(scripted->body, scripted->contentType.c_str());
            return;
        }

        const auto route = routes.find(path);
        if (route == routes.end()) {
            answerText(res, 404, "not found: " + path);
            return;
        }
        const std::string allowed = route->second.method;
        if (allowed != "*" && allowed != in.rec.method && !(allowed == "GET" && in.rec.method == "HEAD")) {
            res.set_header("Allow", allowed);
            answerText(res, 405, "method not allowed: " + in.rec.method + " " + path);
            return;
        }
        try {
            (this->*(route->second.handler))(in, res);
        } catch (const HttpError& e) {
            answerText(res, e.status, e.message);
        }
    }

    // ---- Endpoints ----

    void handleSession(const Incoming& in, httplib::Response& res) {
        const RecordReader r = RecordReader::fromBody(in.rec.body);
        const std::optional<QString> sessionToken = r.optionalString("session_token");
        const std::optional<QString> idToken = r.optionalString("id_token");
        r.optionalString("auth_provider");
        r.optionalString("client_platform");
        std::optional<QJsonObject> profile;
        if (auto p = r.optionalRecord("profile"))
            profile = readProfile(*p);
        r.optionalBool("force_refresh");

        std::lock_guard lock(mutex);
        std::string token;
        if (sessionToken && sessions.count(utf8(*sessionToken)) != 0) {
            token = utf8(*sessionToken);
        } else if (idToken && !idToken->isEmpty()) {
            token = newSessionLocked();
            sessionByIdToken[utf8(*idToken)] = token;
        } else if (sessionToken) {
            throw kInvalidSession;
        } else {
            throw badRequest("a session request needs a non-empty \"id_token\" or a \"session_token\"");
        }
        Session& session = sessions.at(token);
        if (profile)
            session.profile = profile;
        answerJson(res, sessionJson(session, token));
    }

    void transcribe(const Incoming& in, httplib::Response& res, bool refine) {
        if (in.multipartError)
            throw badRequest(*in.multipartError);
        if (!in.rec.file || in.rec.file->name != "audio")
            throw badRequest("missing audio part");
        const auto& fields = in.rec.formFields;
        const auto tokenField = fields.find("session_token");
        if (tokenField == fields.end())
            throw kInvalidSession;

        const double seconds = clipSeconds(in.rec.file->content);
        std::lock_guard lock(mutex);
        const auto session = sessions.find(tokenField->second);
        if (session == sessions.end())
            throw kInvalidSession;

        const QString rawText = qs(transcript.empty() ? placeholderTranscript(seconds) : transcript);
        const QString text = rawText; // the stand-in's refinement leaves the transcript as it is
        const qint64 words = countWords(text);
        Session& s = session->second;
        s.totalWords += words;
        s.lifetimeWords += words;
        s.totalMinutes += seconds / 60.0;
        s.lifetimeMinutes += seconds / 60.0;

        QJsonObject o;
        o.insert(QStringLiteral("text"), text);
        if (refine)
            o.insert(QStringLiteral("transcript_text"), rawText);
        o.insert(QStringLiteral("words"), words);
        o.insert(QStringLiteral("session"), sessionJson(s, session->first));
        o.insert(QStringLiteral("provider"), QStringLiteral("standin"));
        if (const auto prompt = fields.find("prompt"); prompt != fields.end())
            o.insert(QStringLiteral("prompt_used"), qs(prompt->second));
        const auto model = fields.find("model");
        QJsonObject metadata;
        metadata.insert(QStringLiteral("model"),
                        model != fields.end() ? qs(model->second) : QStringLiteral("standin-default"));
        o.insert(QStringLiteral("provider_metadata"), metadata);
        if (refine)
            o.insert(QStringLiteral("refinement_mode"), QStringLiteral("standin"));
        answerJson(res, o);
    }

    void handleTranscription(const Incoming& in, httplib::Response& res) { transcribe(in, res, false); }
    void handleRefine(const Incoming& in, httplib::Response& res) { transcribe(in, res, true); }

    void handleFormatEmail(const Incoming& in, httplib::Response& res) {
        const RecordReader r = RecordReader::fromBody(in.rec.body);
        const TokenPair tokens = readTokens(r);
        if (auto p = r.optionalRecord("profile"))
            readProfile(*p);
        const QString text = r.requiredString("text");
        checkOptionalSession(tokens);
        QJsonObject o;
        o.insert(QStringLiteral("text"),
                 QStringLiteral("Hello,\n\n") + text + QStringLiteral("\n\nBest regards"));
        answerJson(res, o);
    }

    void handleFormatGeneric(const Incoming& in, httplib::Response& res) {
        const RecordReader r = RecordReader::fromBody(in.rec.body);
        const TokenPair tokens = readTokens(r);
        if (auto p = r.optionalRecord("profile"))
            readProfile(*p);
        const QString text = r.requiredString("text");
        r.optionalString("app_name");
        r.optionalString("window_title");
        r.optionalString("custom_instructions");
        const std::optional<QString> selected = r.optionalString("selected_text");
        r.requiredBool("verbatim");
        if (auto snippets = r.optionalArray("snippets"))
            readSnippets(r, "snippets", *snippets);
        checkOptionalSession(tokens);
        QJsonObject o;
        o.insert(QStringLiteral("text"), selected ? text + QStringLiteral(": ") + *selected : text);
        answerJson(res, o);
    }

    void handleTitle(const Incoming& in, httplib::Response& res) {
        const RecordReader r = RecordReader::fromBody(in.rec.body);
        const TokenPair tokens = readTokens(r);
        const QString text = r.requiredString("text");
        checkOptionalSession(tokens);
        const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QJsonObject o;
        o.insert(QStringLiteral("title"), words.isEmpty()
                                              ? QStringLiteral("Untitled note")
                                              : QStringList(words.mid(0, 5)).join(QLatin1Char(' ')));
        answerJson(res, o);
    }

    void handleUserConfig(const Incoming& in, httplib::Response& res) {
        if (in.rec.method == "GET" || in.rec.method == "HEAD") {
            TokenPair tokens;
            if (auto t = queryItem(in.rec, "session_token"))
                tokens.sessionToken = qs(*t);
            if (auto t = queryItem(in.rec, "id_token"))
                tokens.idToken = qs(*t);
            std::lock_guard lock(mutex);
            answerJson(res, configResponse(*resolveSessionLocked(tokens).second));
            return;
        }
        if (in.rec.method != "POST") {
            res.set_header("Allow", "GET, POST");
            throw HttpError{405, "method not allowed: " + in.rec.method + " " + in.rec.path};
        }
        const RecordReader r = RecordReader::fromBody(in.rec.body);
        const TokenPair tokens = readTokens(r);
        const QJsonObject config = readCloudConfig(r.requiredRecord("config"));
        std::lock_guard lock(mutex);
        Session& s = *resolveSessionLocked(tokens).second;
        s.config = config;
        s.lastUpdatedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        answerJson(res, configResponse(s));
    }

    void handleTutorials(const Incoming&, httplib::Response& res) {
        struct Item {
            const char* key;
            const char* title;
            const char* description;
        };
        static const Item items[] = {
            {"first-dictation", "Your first dictation",
             "Hold the shortcut, speak, and let go to insert the text."},
            {"email-mode", "Writing e-mails", "Dictate a message and have it formatted as an e-mail."},
            {"knowledge-base", "Snippets and dictionary", "Teach the app your own phrases and spellings."},
        };
        QJsonArray list;
        for (const Item& item : items) {
            QJsonObject o;
            o.insert(QStringLiteral("key"), QLatin1String(item.key));
            o.insert(QStringLiteral("title"), QLatin1String(item.title));
            o.insert(QStringLiteral("description"), QLatin1String(item.description));
            o.insert(QStringLiteral("url"),
                     QStringLiteral("https://example.invalid/tutorials/") + QLatin1String(item.key));
            list.append(o);
        }
        QJsonObject o;
        o.insert(QStringLiteral("tutorials"), list);
        answerJson(res, o);
    }

    void handleAppleStart(const Incoming& in, httplib::Response& res) {
        const auto port = queryItem(in.rec, "return_port");
        if (!port)
            throw badRequest("missing query item \"return_port\"");
        const bool digits =
            !port->empty() && port->size() <= 5 &&
            std::all_of(port->begin(), port->end(), [](char c) { return c >= '0' && c <= '9'; });
        const int value = digits ? std::stoi(*port) : 0;
        if (value < 1 || value > 65535)
            throw badRequest("query item \"return_port\" must be a port number from 1 to 65535");
        std::string state;
        {
            std::lock_guard lock(mutex);
            state = randomHex(16);
        }
        QJsonObject o;
        o.insert(QStringLiteral("auth_url"), qs("https://example.invalid/auth/apple?state=" + state +
                                                "&return_port=" + std::to_string(value)));
        o.insert(QStringLiteral("state"), qs(state));
        answerJson(res, o);
    }

    // Errors that cpp-httplib raises before a handler runs (an over-size body, a body it cannot read),
    // and any error answer that has no body yet.
    httplib::Server::HandlerResponse handleError(const httplib::Request& req, httplib::Response& res) {
        if (t_answered || !res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        if (!t_recorded)
            record(capture(req).rec);
        std::string message;
        switch (res.status) {
        case 413:
            message = "request body too large (limit " + std::to_string(maxBodyBytes) + " bytes)";
            break;
        case 404:
            message = "not found: " + req.path;
            break;
        case 400:
            message = "bad request";
            break;
        default:
            message = "error " + std::to_string(res.status);
            break;
        }
        answerText(res, res.status, message);
        return httplib::Server::HandlerResponse::Handled;
    }
};

StandinBackend::StandinBackend() : d(std::make_unique<Impl>()) {}

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

    auto server = std::make_unique<httplib::Server>();
    server->set_payload_max_length(maxBodyBytes);
    // One request per connection, so that no idle keep-alive connection holds up stop().
    server->set_keep_alive_max_count(1);
    server->set_keep_alive_timeout(1);
    server->set_logger([](const httplib::Request&, const httplib::Response&) {
        t_recorded = false;
        t_answered = false;
        t_hiddenContentType.clear();
    });
    server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        t_recorded = false;
        t_answered = false;
        t_hiddenContentType.clear();
        // The request object is the server's own, non-const one; only the hook's view of it is const.
        auto& headers = const_cast<httplib::Request&>(req).headers;
        const auto it = headers.find("Content-Type");
        if (it != headers.end() && it->second.rfind("multipart/form-data", 0) == 0) {
            t_hiddenContentType = it->second;
            it->second = kHiddenMarker;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    Impl* impl = d.get();
    const auto handler = [impl](const httplib::Request& req, httplib::Response& res) {
        impl->handle(req, res);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);
    server->Options(".*", handler);
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [impl](const httplib::Request& req, httplib::Response& res) { return impl->handleError(req, res); }));
    server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        answerText(res, 500, "stand-in backend failure: " + what);
    });

    int bound = port;
    if (port == 0) {
        bound = server->bind_to_any_port(*bindAddress);
        if (bound <= 0)
            throw std::runtime_error("cannot bind a free port on " + host);
    } else if (!server->bind_to_port(*bindAddress, port)) {
        throw std::runtime_error("cannot bind " + host + ":" + std::to_string(port));
    }

    {
        std::lock_guard lock(d->mutex);
        d->stopping = false;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    httplib::Server* raw = server.get();
    d->thread = std::thread([raw, ended] {
        raw->listen_after_bind();
        ended->store(true);
    });
    // stop() only acts on a running server, so wait until the loop has taken over the socket.
    while (!raw->is_running() && !ended->load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ended->load()) {
        d->thread.join();
        throw std::runtime_error("stand-in backend failed to listen on " + host);
    }

    d->server = std::move(server);
    d->port = bound;
    d->urlHost = bindAddress->find(':') != std::string::npos ? "[" + *bindAddress + "]" : *bindAddress;
    return bound;
}

void StandinBackend::stop() {
    if (!d->server)
        return;
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
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
    std::lock_guard lock(d->mutex);
    d->scripts[path].push_back(std::move(response));
}

void StandinBackend::setDelay(const std::string& path, std::chrono::milliseconds delay) {
    std::lock_guard lock(d->mutex);
    if (delay.count() <= 0)
        d->delays.erase(path);
    else
        d->delays[path] = delay;
}

void StandinBackend::setMissing(const std::string& path, int status) {
    if (status != 0 && status != 404 && status != 405)
        throw std::invalid_argument("setMissing takes 404, 405 or 0, not " + std::to_string(status));
    std::lock_guard lock(d->mutex);
    if (status == 0)
        d->missing.erase(path);
    else
        d->missing[path] = status;
}

void StandinBackend::setTranscript(const std::string& text) {
    std::lock_guard lock(d->mutex);
    d->transcript = text;
}

void StandinBackend::reset() {
    std::lock_guard lock(d->mutex);
    d->scripts.clear();
    d->delays.clear();
    d->missing.clear();
    d->transcript.clear();
    d->received.clear();
}

std::string StandinBackend::openSession() {
    std::lock_guard lock(d->mutex);
    return d->newSessionLocked();
}

std::vector<ReceivedRequest> StandinBackend::received() const {
    std::lock_guard lock(d->mutex);
    return d->received;
}

std::optional<ReceivedRequest> StandinBackend::lastRequest(const std::string& path) const {
    std::lock_guard lock(d->mutex);
    for (auto it = d->received.rbegin(); it != d->received.rend(); ++it) {
        if (it->path == path)
            return *it;
    }
    return std::nullopt;
}

} // namespace standin
