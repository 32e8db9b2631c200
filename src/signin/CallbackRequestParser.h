#pragma once

#include "OAuthCallback.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// How the listener of one provider reads the browser's return. The parts the providers really differ in:
// where the callback may arrive, whether the fields may come as a POST form, and the pages sent back.
struct CallbackProfile {
    // The only path the callback may use; absent: any path (the backend chooses Apple's).
    std::optional<QString> path;
    // POST requests carry the fields as an application/x-www-form-urlencoded body (Apple's form_post).
    bool acceptsFormPost = false;
    // The field that a successful answer carries: the code, or Apple's identity token.
    std::optional<QString> OAuthCallback::*credential = &OAuthCallback::code;
    QByteArray successPage;
    QByteArray errorPage; // the provider answered with an error, or without the credential
    // "<prefix> ready on port <n>" is logged when the listener is up.
    QString readyLogPrefix;

    static CallbackProfile apple();
    static CallbackProfile google();
    static CallbackProfile microsoft(const QString& redirectPath);
};

// One HTTP request as read off a callback connection.
struct CallbackHttpRequest {
    QByteArray method; // upper case
    QByteArray target;
    QByteArray body;
};

// Reading one request from the bytes received so far.
struct CallbackReadResult {
    enum class Status {
        Incomplete, // wait for more bytes
        Complete,   // `request` holds the request
        TooLarge,   // over maxRequestBytes: answer 413
        Malformed,  // not a request we can read: answer 400
    };
    Status status = Status::Incomplete;
    CallbackHttpRequest request;
};

// What to do with a complete request.
struct CallbackVerdict {
    int httpStatus = 200;
    QByteArray page;
    std::optional<OAuthCallback> callback; // set when the request is the provider's redirect
};

// The answers to requests that are not this attempt's callback.
inline constexpr char notFoundPage[] = "Not Found";
inline constexpr char foreignStatePage[] = "This request does not belong to the sign-in in progress.";

namespace CallbackRequestParser {

constexpr qsizetype maxRequestBytes = 64 * 1024;

// Reads the head up to the blank line and then Content-Length bytes of body.
CallbackReadResult read(const QByteArray& received);

// Whether `request` is the callback of `profile` for the attempt whose state is `expectedState`, the
// fields it carries, and the answer to send. Only a request on the profile's path whose "state" equals
// `expectedState` exactly is the callback; any other request (another path, no callback fields: 404; no
// state or another one: 400) is answered and changes nothing. An empty `expectedState` matches nothing.
CallbackVerdict interpret(const CallbackHttpRequest& request, const CallbackProfile& profile,
                          const QString& expectedState);

// "a=1&b" → [("a","1"), ("b", absent)]. In a query a "+" stays a "+"; in a form body it is a blank and a
// pair without "=" has the empty value. A malformed percent escape, or one that decodes to bytes that are
// not UTF-8, leaves the text as it was (its "+" included).
QList<std::pair<QString, std::optional<QString>>> parseQuery(const QByteArray& query);
QList<std::pair<QString, std::optional<QString>>> parseFormEncoded(const QByteArray& body);

// The callback fields of decoded pairs; a later pair with the same key replaces an earlier one.
OAuthCallback fieldsOf(const QList<std::pair<QString, std::optional<QString>>>& pairs);

} // namespace CallbackRequestParser
