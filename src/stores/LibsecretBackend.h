#pragma once

#include "SecretBackend.h"

// The Secret Service of the desktop session (gnome-keyring, KWallet's Secret Service, KeePassXC…)
// through libsecret's synchronous calls. Items go to the default collection and carry the attributes
// "service" and "account"; a failure's code is the GError's code.
class LibsecretBackend final : public SecretBackend {
public:
    Status replace(const QString& service, const QString& account, const QByteArray& data) override;
    ReadResult read(const QString& service, const QString& account) override;
    Status remove(const QString& service, const QString& account) override;
};
