#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The names users know applications by, from the desktop entries (".desktop" files) in the applications
// folders: $XDG_DATA_HOME/applications (default ~/.local/share), then each of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share); an entry in an earlier folder hides one with the same id further on.
//
// A window is matched to an entry by its class hint: first an entry whose StartupWMClass is the window's
// class or instance name, then one whose desktop file id ("org.gnome.Evolution", "firefox") is either of
// them, then one whose id ends in ".<class or instance>"; all ignoring case. The folders are read again when
// one of them changed.
class DesktopEntryNames {
public:
    // Folders from the environment, looked up on every call.
    DesktopEntryNames();
    // These applications folders, in order.
    explicit DesktopEntryNames(QStringList applicationFolders);

    // The entry's Name (localized for the current locale when the entry has it), if an entry matches.
    std::optional<QString> nameForWindow(const QString& windowClass, const QString& instanceName);

    static QStringList applicationFoldersFromEnvironment();

private:
    struct Entry {
        QString id; // lower case
        QString name;
        QString startupWMClass; // lower case
    };

    void refresh();

    std::optional<QStringList> m_fixedFolders;
    QStringList m_folders;
    QList<QDateTime> m_stamps;
    QList<Entry> m_entries; // in the order of precedence
    bool m_loaded = false;
};
