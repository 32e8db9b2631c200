#include "EditChord.h"

#include <QSet>

namespace {
// Class or instance names of terminal emulators (lower case). Names containing "terminal" are matched too,
// which covers gnome-terminal, xfce4-terminal, mate-terminal, lxterminal, qterminal, deepin-terminal and the
// reverse-DNS ids ending in ".terminal".
const QSet<QString>& terminalNames() {
    static const QSet<QString> names{
        "xterm",
        "uxterm",
        "rxvt",
        "urxvt",
        "urxvt-unicode",
        "rxvt-unicode",
        "aterm",
        "eterm",
        "kitty",
        "alacritty",
        "foot",
        "footclient",
        "wezterm",
        "org.wezfurlong.wezterm",
        "konsole",
        "yakuake",
        "st",
        "st-256color",
        "terminator",
        "tilix",
        "com.gexperts.tilix",
        "sakura",
        "guake",
        "tilda",
        "terminology",
        "termite",
        "cool-retro-term",
        "contour",
        "rio",
        "zutty",
        "hyper",
        "tabby",
        "kgx",
        "org.gnome.console",
        "ptyxis",
        "org.gnome.ptyxis",
        "ghostty",
        "com.mitchellh.ghostty",
        "warp",
        "dev.warp.warp",
        "blackbox",
        "com.raggesilver.blackbox",
        "kermit",
        "roxterm",
        "lilyterm",
        "evilvte",
        "mlterm",
        "xiterm",
        "kterm",
        "yaft",
        "wayst",
        "extraterm",
    };
    return names;
}

bool isTerminalName(const QString& name) {
    const QString lower = name.trimmed().toLower();
    return !lower.isEmpty() && (terminalNames().contains(lower) || lower.contains(QLatin1String("terminal")));
}
} // namespace

bool EditChord::isTerminal(const QString& windowClass, const QString& instanceName) {
    return isTerminalName(windowClass) || isTerminalName(instanceName);
}

EditChord EditChord::forWindow(EditAction action, const std::optional<FrontmostWindow>& window) {
    const bool terminal = window && isTerminal(window->windowClass.value_or(QString()),
                                               window->instanceName.value_or(QString()));
    return EditChord{action, terminal};
}

QString EditChord::text() const {
    return QStringLiteral("Ctrl+") + (shift ? QStringLiteral("Shift+") : QString()) +
           (action == EditAction::Copy ? QStringLiteral("C") : QStringLiteral("V"));
}
