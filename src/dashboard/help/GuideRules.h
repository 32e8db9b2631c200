#pragma once

#include <QList>
#include <QString>

// The fixed texts of the Guide page: three cards, each an introduction and its tips, in display order.
// They follow no store: the shortcut tip names the default shortcuts, whatever the user chose since.
namespace GuideRules {

struct Tip {
    QString title;
    QString body;
};

struct Card {
    QString title;
    QString body;
    QList<Tip> tips;
};

QList<Card> cards();

// "Your default dictation shortcut is <dictation> and AI Mode uses <AI Mode>. ..." with the keys of the
// two default shortcuts as this desktop names them.
QString defaultShortcutsTip();

} // namespace GuideRules
