#pragma once

// The records exchanged with the backend as JSON. Each object's keys are exactly the member names.
// Required members are always written and must be present and non-null when read; optional members
// are written only when they hold a value and read as absent when missing or null. Unknown keys are
// ignored. Every record lists its members once in `serialize`, which both writes and reads it.

#include "JSONValue.h"
#include "JsonDecoding.h"

#include <QList>
#include <QString>

#include <optional>

struct UserProfileDTO {
    std::optional<QString> email;
    std::optional<QString> name;
    std::optional<QString> picture;

    template <class IO> void serialize(IO& io) {
        io.optional("email", email);
        io.optional("name", name);
        io.optional("picture", picture);
    }
};

struct SessionRequest {
    std::optional<QString> session_token;
    std::optional<QString> id_token;
    std::optional<QString> auth_provider;
    std::optional<QString> client_platform;
    std::optional<UserProfileDTO> profile;
    std::optional<bool> force_refresh;

    template <class IO> void serialize(IO& io) {
        io.optional("session_token", session_token);
        io.optional("id_token", id_token);
        io.optional("auth_provider", auth_provider);
        io.optional("client_platform", client_platform);
        io.optional("profile", profile);
        io.optional("force_refresh", force_refresh);
    }
};

struct SessionResponseDTO {
    qint64 total_words = 0;
    double total_minutes = 0;
    qint64 lifetime_words = 0;
    double lifetime_minutes = 0;
    std::optional<UserProfileDTO> profile;
    std::optional<QString> session_token;

    template <class IO> void serialize(IO& io) {
        io.required("total_words", total_words);
        io.required("total_minutes", total_minutes);
        io.required("lifetime_words", lifetime_words);
        io.required("lifetime_minutes", lifetime_minutes);
        io.optional("profile", profile);
        io.optional("session_token", session_token);
    }
};

struct SnippetDTO {
    QString title;
    QString value;

    template <class IO> void serialize(IO& io) {
        io.required("title", title);
        io.required("value", value);
    }
};

struct DictionaryEntryDTO {
    QString term;
    std::optional<QString> note;

    template <class IO> void serialize(IO& io) {
        io.required("term", term);
        io.optional("note", note);
    }
};

struct FormatEmailRequestDTO {
    std::optional<QString> session_token;
    std::optional<QString> id_token;
    std::optional<UserProfileDTO> profile;
    QString text;

    template <class IO> void serialize(IO& io) {
        io.optional("session_token", session_token);
        io.optional("id_token", id_token);
        io.optional("profile", profile);
        io.required("text", text);
    }
};

struct FormatGenericRequestDTO {
    std::optional<QString> session_token;
    std::optional<QString> id_token;
    std::optional<UserProfileDTO> profile;
    QString text;
    std::optional<QString> app_name;
    std::optional<QString> window_title;
    std::optional<QString> custom_instructions;
    std::optional<QString> selected_text;
    bool verbatim = false;
    std::optional<QList<SnippetDTO>> snippets;

    template <class IO> void serialize(IO& io) {
        io.optional("session_token", session_token);
        io.optional("id_token", id_token);
        io.optional("profile", profile);
        io.required("text", text);
        io.optional("app_name", app_name);
        io.optional("window_title", window_title);
        io.optional("custom_instructions", custom_instructions);
        io.optional("selected_text", selected_text);
        io.required("verbatim", verbatim);
        io.optional("snippets", snippets);
    }
};

struct FormatResponseDTO {
    QString text;

    template <class IO> void serialize(IO& io) { io.required("text", text); }
};

struct TitleRequestDTO {
    std::optional<QString> session_token;
    std::optional<QString> id_token;
    QString text;

    template <class IO> void serialize(IO& io) {
        io.optional("session_token", session_token);
        io.optional("id_token", id_token);
        io.required("text", text);
    }
};

struct TitleResponseDTO {
    QString title;

    template <class IO> void serialize(IO& io) { io.required("title", title); }
};

struct CloudConfigDTO {
    std::optional<JSONValue::Object> settings;
    std::optional<QList<SnippetDTO>> snippets;
    std::optional<QList<DictionaryEntryDTO>> dictionary;

    template <class IO> void serialize(IO& io) {
        io.optional("settings", settings);
        io.optional("snippets", snippets);
        io.optional("dictionary", dictionary);
    }
};

struct ConfigEnvelopeDTO {
    std::optional<QString> session_token;
    std::optional<QString> id_token;
    CloudConfigDTO config;

    template <class IO> void serialize(IO& io) {
        io.optional("session_token", session_token);
        io.optional("id_token", id_token);
        io.required("config", config);
    }
};

struct ConfigResponseDTO {
    CloudConfigDTO config;
    std::optional<QString> last_updated_at;

    template <class IO> void serialize(IO& io) {
        io.required("config", config);
        io.optional("last_updated_at", last_updated_at);
    }
};

struct TranscriptionResponseDTO {
    QString text;
    qint64 words = 0;
    SessionResponseDTO session;
    std::optional<QString> provider;
    std::optional<QString> prompt_used;
    std::optional<JSONValue::Object> provider_metadata;

    template <class IO> void serialize(IO& io) {
        io.required("text", text);
        io.required("words", words);
        io.required("session", session);
        io.optional("provider", provider);
        io.optional("prompt_used", prompt_used);
        io.optional("provider_metadata", provider_metadata);
    }
};

struct CombinedTranscriptionResponseDTO {
    QString text;
    QString transcript_text;
    qint64 words = 0;
    SessionResponseDTO session;
    std::optional<QString> provider;
    std::optional<QString> prompt_used;
    std::optional<JSONValue::Object> provider_metadata;
    std::optional<QString> refinement_mode;

    template <class IO> void serialize(IO& io) {
        io.required("text", text);
        io.required("transcript_text", transcript_text);
        io.required("words", words);
        io.required("session", session);
        io.optional("provider", provider);
        io.optional("prompt_used", prompt_used);
        io.optional("provider_metadata", provider_metadata);
        io.optional("refinement_mode", refinement_mode);
    }
};

struct TutorialItemDTO {
    QString key;
    QString title;
    QString description;
    QString url;

    const QString& id() const { return key; }

    template <class IO> void serialize(IO& io) {
        io.required("key", key);
        io.required("title", title);
        io.required("description", description);
        io.required("url", url);
    }
};

struct TutorialsResponseDTO {
    QList<TutorialItemDTO> tutorials;

    template <class IO> void serialize(IO& io) { io.required("tutorials", tutorials); }
};

struct AppleAuthStartResponseDTO {
    QString auth_url;
    QString state;

    template <class IO> void serialize(IO& io) {
        io.required("auth_url", auth_url);
        io.required("state", state);
    }
};
