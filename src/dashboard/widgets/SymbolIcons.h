#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

// The dashboard's symbols, by the names the pages use ("house", "rocket.fill", "doc.on.doc", ...), drawn
// as small SVGs of our own on a 24 x 24 grid and tinted at draw time.
namespace SymbolIcons {
bool contains(const QString& name);
// The SVG text of a symbol in `color`; empty for an unknown name.
QByteArray svg(const QString& name, const QColor& color);
// The symbol rendered into `size` (device-independent pixels) at `devicePixelRatio`; a null pixmap for an
// unknown name.
QPixmap pixmap(const QString& name, const QSize& size, const QColor& color, double devicePixelRatio = 1.0);
} // namespace SymbolIcons

// A symbol shown at a fixed size and colour.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& name, int size, const QColor& color, QWidget* parent = nullptr);
    void setColor(const QColor& color);
    const QString& name() const { return m_name; }
    QSize sizeHint() const override { return QSize(m_size, m_size); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    int m_size;
    QColor m_color;
};
