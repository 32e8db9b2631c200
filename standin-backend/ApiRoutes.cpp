#include "ApiRoutes.h"

#include "BackendState.h"
#include "RecordReader.h"
#include "SpeechRecognizer.h"
#include "StandinIdentityProvider.h"
#include "StandinRewrite.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace standin {
namespace {

constexpr const char* kJsonType = "application/json";

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

HttpResponse json(const QJsonObject& o) {
    return HttpResponse{200, kJsonType, QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(), {}};
}

std::optional<std::string> queryItem(const ReceivedRequest& rec, const std::string& name) {
    for (const auto& [key, value] : rec.queryItems) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

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

// Caller holds the state's mutex. A session token, when sent, must be known; otherwise an identity token
// names the session last opened with it.
std::pair<std::string, Session*> resolveSessionLocked(BackendState& state, const TokenPair& tokens) {
    std::string token;
    if (tokens.sessionToken) {
        token = utf8(*tokens.sessionToken);
    } else if (tokens.idToken) {
        const auto known = state.sessionForIdTokenLocked(utf8(*tokens.idToken));
        if (!known)
            throw kInvalidSession;
        token = *known;
    } else {
        throw kInvalidSession;
    }
    Session* session = state.findSessionLocked(token);
    if (!session)
        throw kInvalidSession;
    return {token, session};
}

// Format and title requests: a session token, when sent, must be known; an identity token or no token at
// all is accepted.
void checkOptionalSession(BackendState& state, const TokenPair& tokens) {
    if (!tokens.sessionToken)
        return;
    std::lock_guard lock(state.mutex);
    if (!state.findSessionLocked(utf8(*tokens.sessionToken)))
        throw kInvalidSession;
}

HttpResponse handleSession(BackendState& state, const Incoming& in) {
    const RecordReader r = RecordReader::fromBody(in.rec.body);
    const std::optional<QString> sessionToken = r.optionalString("session_token");
    const std::optional<QString> idToken = r.optionalString("id_token");
    r.optionalString("auth_provider");
    r.optionalString("client_platform");
    std::optional<QJsonObject> profile;
    if (auto p = r.optionalRecord("profile"))
        profile = readProfile(*p);
    r.optionalBool("force_refresh");

    std::lock_guard lock(state.mutex);
    std::string token;
    Session* session = sessionToken ? state.findSessionLocked(utf8(*sessionToken)) : nullptr;
    if (session) {
        token = utf8(*sessionToken);
    } else if (idToken && !idToken->isEmpty()) {
        if (const std::string refusal = state.signInRefusalLocked(); !refusal.empty())
            return HttpResponse::text(403, refusal);
        token = state.newSessionLocked(utf8(*idToken));
        session = state.findSessionLocked(token);
    } else if (sessionToken) {
        throw kInvalidSession;
    } else {
        throw badRequest("a session request needs a non-empty \"id_token\" or a \"session_token\"");
    }
    if (profile)
        session->profile = profile;
    return json(sessionJson(*session, token));
}

std::optional<QString> formField(const std::map<std::string, std::string>& fields, const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::nullopt : std::optional<QString>(qs(it->second));
}

HttpResponse transcribe(BackendState& state, const Incoming& in, bool refine) {
    if (in.multipartError)
        throw badRequest(*in.multipartError);
    if (!in.rec.file || in.rec.file->name != "audio")
        throw badRequest("missing audio part");
    const auto& fields = in.rec.formFields;
    const auto tokenField = fields.find("session_token");
    if (tokenField == fields.end())
        throw kInvalidSession;

    std::string scripted;
    {
        std::lock_guard lock(state.mutex);
        if (!state.findSessionLocked(tokenField->second))
            throw kInvalidSession;
        scripted = state.transcriptLocked();
    }
    const std::optional<QString> mode = formField(fields, "refinement_mode");
    const std::optional<QString> selection = refine ? formField(fields, "selected_text") : std::nullopt;
    // A scripted transcript stands in for recognition, answered as it is; otherwise the speech is
    // recognised (outside the state's lock: it takes a while) and formatted as a service would. With a
    // selection to rewrite the speech is an AI Mode instruction, heard against the instruction grammar.
    double seconds = 0;
    QString rawText;
    std::optional<SpeechRecognizer::Instruction> instruction;
    if (!scripted.empty()) {
        seconds = clipSeconds(in.rec.file->content);
        rawText = qs(scripted);
    } else {
        const std::vector<std::int16_t> samples = pcm16kMonoSamples(in.rec.file->content);
        seconds = double(samples.size()) / SpeechRecognizer::sampleRate;
        try {
            SpeechRecognizer& recognizer = SpeechRecognizer::shared();
            if (selection && !selection->isEmpty()) {
                instruction = recognizer.recognizeInstruction(samples);
                rawText = formatTranscript(qs(instruction->text));
            } else {
                rawText = formatTranscript(qs(recognizer.recognize(samples)));
            }
        } catch (const std::runtime_error& e) {
            throw HttpError{500, std::string("speech recognition is unavailable: ") + e.what()};
        }
    }
    const QString text = refine ? refineText(rawText, mode, selection) : rawText;
    const qint64 words = countWords(text);

    std::lock_guard lock(state.mutex);
    Session* s = state.findSessionLocked(tokenField->second);
    if (!s)
        throw kInvalidSession;
    s->totalWords += words;
    s->lifetimeWords += words;
    s->totalMinutes += seconds / 60.0;
    s->lifetimeMinutes += seconds / 60.0;

    QJsonObject o;
    o.insert(QStringLiteral("text"), text);
    if (refine)
        o.insert(QStringLiteral("transcript_text"), rawText);
    o.insert(QStringLiteral("words"), words);
    o.insert(QStringLiteral("session"), sessionJson(*s, tokenField->second));
    o.insert(QStringLiteral("provider"), QStringLiteral("standin"));
    if (const auto prompt = fields.find("prompt"); prompt != fields.end())
        o.insert(QStringLiteral("prompt_used"), qs(prompt->second));
    const auto model = fields.find("model");
    QJsonObject metadata;
    metadata.insert(QStringLiteral("model"),
                    model != fields.end() ? qs(model->second) : QStringLiteral("standin-default"));
    if (instruction) {
        // How the instruction was heard, for whoever wonders why a rewrite did or did not happen.
        metadata.insert(QStringLiteral("instruction_phrase"), qs(instruction->phrase));
        if (!instruction->phrase.empty()) {
            metadata.insert(QStringLiteral("instruction_confidence"), instruction->confidence);
        }
        metadata.insert(QStringLiteral("instruction_heard_as"),
                        instruction->fromGrammar ? QStringLiteral("grammar") : QStringLiteral("dictation"));
    }
    o.insert(QStringLiteral("provider_metadata"), metadata);
    if (refine)
        o.insert(QStringLiteral("refinement_mode"), mode.value_or(QStringLiteral("standin")));
    return json(o);
}

HttpResponse handleFormatEmail(BackendState& state, const Incoming& in) {
    const RecordReader r = RecordReader::fromBody(in.rec.body);
    const TokenPair tokens = readTokens(r);
    if (auto p = r.optionalRecord("profile"))
        readProfile(*p);
    const QString text = r.requiredString("text");
    checkOptionalSession(state, tokens);
    QJsonObject o;
    o.insert(QStringLiteral("text"), tidyText(text));
    return json(o);
}

HttpResponse handleFormatGeneric(BackendState& state, const Incoming& in) {
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
    checkOptionalSession(state, tokens);
    QJsonObject o;
    o.insert(QStringLiteral("text"), aiRewrite(text, selected));
    return json(o);
}

HttpResponse handleTitle(BackendState& state, const Incoming& in) {
    const RecordReader r = RecordReader::fromBody(in.rec.body);
    const TokenPair tokens = readTokens(r);
    const QString text = r.requiredString("text");
    checkOptionalSession(state, tokens);
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QJsonObject o;
    o.insert(QStringLiteral("title"), words.isEmpty() ? QStringLiteral("Untitled note")
                                                      : QStringList(words.mid(0, 5)).join(QLatin1Char(' ')));
    return json(o);
}

HttpResponse handleGetUserConfig(BackendState& state, const Incoming& in) {
    TokenPair tokens;
    if (auto t = queryItem(in.rec, "session_token"))
        tokens.sessionToken = qs(*t);
    if (auto t = queryItem(in.rec, "id_token"))
        tokens.idToken = qs(*t);
    std::lock_guard lock(state.mutex);
    return json(configResponse(*resolveSessionLocked(state, tokens).second));
}

HttpResponse handlePostUserConfig(BackendState& state, const Incoming& in) {
    const RecordReader r = RecordReader::fromBody(in.rec.body);
    const TokenPair tokens = readTokens(r);
    const QJsonObject config = readCloudConfig(r.requiredRecord("config"));
    std::lock_guard lock(state.mutex);
    Session& s = *resolveSessionLocked(state, tokens).second;
    s.config = config;
    s.lastUpdatedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    return json(configResponse(s));
}

HttpResponse handleTutorials(const Incoming&) {
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
    return json(o);
}

HttpResponse handleAppleStart(BackendState& state, const Incoming& in) {
    const auto port = queryItem(in.rec, "return_port");
    if (!port)
        throw badRequest("missing query item \"return_port\"");
    const bool digits = !port->empty() && port->size() <= 5 &&
                        std::all_of(port->begin(), port->end(), [](char c) { return c >= '0' && c <= '9'; });
    const int value = digits ? std::stoi(*port) : 0;
    if (value < 1 || value > 65535)
        throw badRequest("query item \"return_port\" must be a port number from 1 to 65535");
    const std::string state_ = state.randomHex(16);
    QJsonObject o;
    const auto host = in.rec.headers.find("host");
    const std::string page = host == in.rec.headers.end() ? "127.0.0.1" : host->second;
    o.insert(QStringLiteral("auth_url"), qs(appleAuthorizationUrl(page, state_, value)));
    o.insert(QStringLiteral("state"), qs(state_));
    return json(o);
}

} // namespace

void addApiRoutes(RouteTable& routes, BackendState& state) {
    BackendState* s = &state;
    const auto bind = [s](HttpResponse (*handler)(BackendState&, const Incoming&)) {
        return [s, handler](const Incoming& in) { return handler(*s, in); };
    };
    routes.add("POST", "/api/session", bind(handleSession));
    routes.add("POST", "/api/transcription", [s](const Incoming& in) { return transcribe(*s, in, false); });
    routes.add("POST", "/api/transcription/refine",
               [s](const Incoming& in) { return transcribe(*s, in, true); });
    routes.add("POST", "/api/format/email", bind(handleFormatEmail));
    routes.add("POST", "/api/format/generic", bind(handleFormatGeneric));
    routes.add("POST", "/api/generate_title", bind(handleTitle));
    routes.add("GET", "/api/user/config", bind(handleGetUserConfig));
    routes.add("POST", "/api/user/config", bind(handlePostUserConfig));
    routes.add("GET", "/api/tutorials", handleTutorials);
    routes.add("GET", "/api/auth/apple/start", bind(handleAppleStart));
}

} // namespace standin
