#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

// Small pieces shared by the knowledge and notes pages: colours, fonts (the dashboard's faces), card
// frames and line icons.
namespace PageBits {

inline const QColor titleColor{0x24, 0x24, 0x29};
inline const QColor mutedColor{0x73, 0x73, 0x7D};
inline const QColor accentColor{0x2E, 0x63, 0xDB};

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal, const QString& family = {});
// A label of plain text in the given font and colour.
QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// A card: rounded, white, with a faint outline. Children go into its layout.
QFrame* card(const QString& objectName, QWidget* parent = nullptr);
// Line icons drawn here: "plus", "pencil", "trash", "xmark", "mic".
QIcon icon(const QString& symbol, const QColor& color);
// The style sheets of the two button kinds.
QString primaryButtonStyle(const QColor& tint = accentColor);
QString secondaryButtonStyle();

} // namespace PageBits
