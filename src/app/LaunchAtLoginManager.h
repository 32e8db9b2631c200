#pragma once

#include <QObject>
#include <QString>

#include <optional>

class UserDefaults;

// Whether Quillvane starts when the user signs in, through the XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/quillvane.desktop": enabled while that file exists and the desktop has not
// switched it off ("Hidden=true" or "X-GNOME-Autostart-enabled=false" in its [Desktop Entry] group).
//
// The entry starts the installed program: the one the installed "quillvane.desktop" (in the XDG data
// folders' applications/) starts. On the very first run it writes the entry once, so a new installation
// starts at login by default; a run of a program that is not installed (a build tree) writes nothing by
// itself and leaves that first-run default to the installed program. The user's switch (setEnabled())
// writes or removes the entry; switched on where nothing is installed, the entry starts the running
// program, and targetText() says so. A change made in the desktop's startup settings shows at the next
// refresh(). A failed first-run write is logged and not retried. Main thread only.
class LaunchAtLoginManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString targetText READ targetText NOTIFY targetTextChanged)

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
    // %1: the program the entry starts.
    static inline const QString kOtherTargetText =
        QStringLiteral("Starts %1, not an installed copy of Quillvane.");
    static inline const QString kMissingTargetText = QStringLiteral("Starts %1, which is missing.");

    // `configHome` empty: $XDG_CONFIG_HOME (else ~/.config). `installedProgram`: the program that
    // counts as installed; empty: the one the installed desktop entry starts (none when there is none).
    // `runningProgram`: this executable; empty: the application's file path.
    explicit LaunchAtLoginManager(UserDefaults& defaults, QString configHome = {},
                                  QString installedProgram = {}, QString runningProgram = {},
                                  QObject* parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    const QString& statusText() const { return m_statusText; }
    // Which program the enabled entry starts, when it is not the installed one (kOtherTargetText or
    // kMissingTargetText); empty otherwise.
    const QString& targetText() const { return m_targetText; }

    // Reads the entry, publishes its state, and on the first run of the installed program writes it once.
    void refresh();
    // The user's choice: writes the entry for the installed program (the running one when nothing is
    // installed), or removes it. Either way the first-run default is settled.
    void setEnabled(bool enabled);

    Status status() const;
    QString entryPath() const;
    // The program registering starts: the installed one, else none.
    const std::optional<QString>& installedProgram() const { return m_installed; }
    // The program the current entry's Exec line starts (its first word, unquoted); none without an entry.
    std::optional<QString> entryProgram() const;

    // The program that the installed "quillvane.desktop" of the XDG data folders starts, resolved to an
    // executable file (a bare name through PATH); none when no such entry names an existing program.
    static std::optional<QString> findInstalledProgram();

signals:
    void isEnabledChanged();
    void statusTextChanged();
    void targetTextChanged();

private:
    void publish(Status status);
    void configureDefaultIfNeeded(Status current);
    // Writes the entry for `program`; false with `error` set when it cannot.
    bool registerEntry(const QString& program, QString& error) const;

    UserDefaults& m_defaults;
    QString m_configHome;
    std::optional<QString> m_installed;
    QString m_running;
    bool m_isEnabled = false;
    QString m_statusText = kNotRegisteredText;
    QString m_targetText;
    bool m_toldNotInstalled = false;
};
