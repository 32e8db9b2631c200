#include "DashboardClipboard.h"

#include "AppLogger.h"
#include "TextUtilities.h"

#include <QClipboard>
#include <QGuiApplication>

void copyToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    AppLogger::info(QStringLiteral("Copied text to clipboard chars=") +
                    QString::number(Text::graphemeCount(text)));
}
