#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

// Reads what another client offers on an X selection, with the selection protocol on a connection of our
// own: the owner's TARGETS as it names them, then the bytes of each wanted target exactly as the owner
// sends them (large ones arrive in INCR pieces). Qt's clipboard is not involved, so nothing is converted.
//
// Blocks the calling thread for at most `timeout` in all; an owner that does not answer in time yields
// what was read so far. Must not be used while this process owns the selection (it could not answer).
class X11SelectionReader {
public:
    using Item = std::pair<QString, QByteArray>;

    struct Content {
        QStringList targets; // every target the owner listed, in its order
        QList<Item> items;   // the targets that were wanted and could be read, in the same order
    };

    // None when there is no X display; an empty content when the selection has no owner.
    // `wanted` picks the targets to read, knowing every target listed (all are read when it is unset).
    using Filter = std::function<bool(const QString& target, const QStringList& targets)>;
    static std::optional<Content> read(const char* selection, std::chrono::milliseconds timeout,
                                       const Filter& wanted = {});
};
