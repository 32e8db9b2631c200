#pragma once

#include "SecretBackend.h"

#include <chrono>

// The Secret Service of the desktop session (gnome-keyring, KWallet's Secret Service, KeePassXC…)
// through libsecret's asynchronous calls. Items carry the attributes "service" and "account" and go to
// the user's default collection (or the collection given); a failure's code is the GError's code.
//
// The answers arrive through the GLib main context of the main thread, which Qt's event loop runs
// (Qt's GLib event dispatcher); with another dispatcher (QT_NO_GLIB) the backend iterates that context
// itself, a little at a time, while a call is open. No call ever waits: a service that does not answer,
// or an unlock prompt nobody answers, ends the call with a time-out error after `deadline`.
class LibsecretBackend final : public SecretBackend {
public:
    // Long enough for a user to type the keyring's password into an unlock prompt.
    static constexpr std::chrono::milliseconds kDefaultDeadline{std::chrono::minutes(2)};

    // `collection`: a collection's D-Bus object path or alias; empty for the user's default collection.
    explicit LibsecretBackend(std::chrono::milliseconds deadline = kDefaultDeadline, QString collection = {});

    void replace(const QString& service, const QString& account, const QByteArray& data,
                 StatusCallback done) override;
    void read(const QString& service, const QString& account, ReadCallback done) override;
    void remove(const QString& service, const QString& account, StatusCallback done) override;

    std::chrono::milliseconds deadline() const { return m_deadline; }

private:
    std::chrono::milliseconds m_deadline;
    QByteArray m_collection;
};
