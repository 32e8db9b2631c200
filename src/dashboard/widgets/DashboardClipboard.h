#pragma once

#include <QString>

// Puts `text` on the clipboard as plain text (replacing whatever was there) and logs its length in
// user-perceived characters.
void copyToClipboard(const QString& text);
