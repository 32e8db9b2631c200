#pragma once

#include <QObject>
#include <QString>

class UserDefaults;

// Whether Quillvane starts when the user signs in, through the XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/quillvane.desktop": enabled while that file exists and does not say
// "Hidden=true". On the very first run it writes the entry once, so a new installation starts at login by
// default; it never removes the entry (a change made in the desktop's startup settings shows at the next
// refresh()). A failed first-run write is logged and not retried. Main thread only.
class LaunchAtLoginManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    enum class Status { NotRegistered, Enabled, Unavailable };

    static inline const QString kDefaultConfiguredKey =
        QStringLiteral("quillvane.launch_at_login.default_configured");
    static inline const QString kNotRegisteredText =
        QStringLiteral("Launch Quillvane automatically when you sign in to your computer.");
    static inline const QString kEnabledText =
        QStringLiteral("Quillvane opens automatically after you sign in.");
    static inline const QString kUnavailableText =
        QStringLiteral("Launch-at-login status is unavailable right now.");

    // `configHome` empty: $XDG_CONFIG_HOME (else ~/.config). `program` is the Exec line's program
    // (empty: this executable).
    explicit LaunchAtLoginManager(UserDefaults& defaults, QString configHome = {}, QString program = {},
                                  QObject* parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    const QString& statusText() const { return m_statusText; }

    // Reads the entry, publishes its state, and on the first run writes it once.
    void refresh();

    Status status() const;
    QString entryPath() const;

signals:
    void isEnabledChanged();
    void statusTextChanged();

private:
    void publish(Status status);
    void configureDefaultIfNeeded(Status current);
    // Writes the entry; false with `error` set when it cannot.
    bool registerEntry(QString& error) const;

    UserDefaults& m_defaults;
    QString m_configHome;
    QString m_program;
    bool m_isEnabled = false;
    QString m_statusText = kNotRegisteredText;
};
