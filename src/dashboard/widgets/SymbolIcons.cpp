#include "SymbolIcons.h"

#include <QHash>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace {
// Each body uses COLOR where the tint goes. Strokes are 1.8 wide with round ends unless filled.
const QHash<QString, QString>& bodies() {
    static const QHash<QString, QString> table{
        {QStringLiteral("house"),
         QStringLiteral("<path d='M3.5 11 12 4l8.5 7M6 9.5V20h4.5v-6h3v6H18V9.5' fill='none' stroke='COLOR' "
                        "stroke-width='1.8' stroke-linecap='round' stroke-linejoin='round'/>")},
        {QStringLiteral("character.book.closed"),
         QStringLiteral(
             "<path d='M6 3.5h12v17H7.5A1.5 1.5 0 0 1 6 19V3.5zM6 17.5h12' fill='none' stroke='COLOR' "
             "stroke-width='1.8' stroke-linejoin='round'/><path d='M9.5 14l2.5-7 2.5 7M10.4 11.8h3.2' "
             "fill='none' stroke='COLOR' stroke-width='1.5' stroke-linecap='round'/>")},
        {QStringLiteral("scissors"),
         QStringLiteral("<circle cx='6.5' cy='17' r='2.7' fill='none' stroke='COLOR' stroke-width='1.8'/>"
                        "<circle cx='17.5' cy='17' r='2.7' fill='none' stroke='COLOR' stroke-width='1.8'/>"
                        "<path d='M8.4 15 16 4M15.6 15 8 4' stroke='COLOR' stroke-width='1.8' "
                        "stroke-linecap='round'/>")},
        {QStringLiteral("square.and.pencil"),
         QStringLiteral(
             "<path d='M11 4.5H5.5a1.5 1.5 0 0 0-1.5 1.5v12.5A1.5 1.5 0 0 0 5.5 20H18a1.5 1.5 0 0 0 "
             "1.5-1.5V13' fill='none' stroke='COLOR' stroke-width='1.8' stroke-linecap='round'/>"
             "<path d='M17.5 3.5l3 3-8.5 8.5-3.7.7.7-3.7z' fill='none' stroke='COLOR' "
             "stroke-width='1.8' stroke-linejoin='round'/>")},
        {QStringLiteral("book"),
         QStringLiteral(
             "<path d='M12 6.5C10 5 7 4.5 3.5 5v13.5C7 18 10 18.5 12 20c2-1.5 5-2 8.5-1.5V5C17 4.5 14 "
             "5 12 6.5zM12 6.5V20' fill='none' stroke='COLOR' stroke-width='1.8' "
             "stroke-linejoin='round'/>")},
        {QStringLiteral("play.rectangle"),
         QStringLiteral("<rect x='3' y='5' width='18' height='14' rx='3' fill='none' stroke='COLOR' "
                        "stroke-width='1.8'/><path d='M10 9v6l5-3z' fill='COLOR'/>")},
        {QStringLiteral("slider.horizontal.3"),
         QStringLiteral("<path d='M4 6h16M4 12h16M4 18h16' stroke='COLOR' stroke-width='1.8' "
                        "stroke-linecap='round'/><circle cx='9' cy='6' r='2.2' fill='COLOR'/>"
                        "<circle cx='16' cy='12' r='2.2' fill='COLOR'/><circle cx='7' cy='18' r='2.2' "
                        "fill='COLOR'/>")},
        {QStringLiteral("waveform.path.ecg"),
         QStringLiteral("<path d='M2.5 12h4l2-5 3.5 11 3-9 2 3h4.5' fill='none' stroke='COLOR' "
                        "stroke-width='2' stroke-linecap='round' stroke-linejoin='round'/>")},
        {QStringLiteral("rocket.fill"),
         QStringLiteral(
             "<path d='M14.5 3.5c3 0 6 .5 6 .5s.5 3-.5 6l-6.5 6.5-5.5-5.5z' fill='COLOR'/>"
             "<path d='M8 11 5 10.5 3 13l4 1zM13 16l.5 3 2.5-2-1-4z' fill='COLOR'/>"
             "<path d='M6.5 17.5 4 20' stroke='COLOR' stroke-width='1.8' stroke-linecap='round'/>")},
        {QStringLiteral("clock.fill"),
         QStringLiteral("<circle cx='12' cy='12' r='9' fill='COLOR'/><path d='M12 7v5l3.5 2' fill='none' "
                        "stroke='white' stroke-width='1.8' stroke-linecap='round'/>")},
        {QStringLiteral("medal.fill"),
         QStringLiteral(
             "<path d='M7 2.5h4l2 5H9zM13 2.5h4l-2 5' fill='COLOR'/>"
             "<circle cx='12' cy='15' r='6.5' fill='COLOR'/><path d='M12 11.5l1 2.2 2.3.3-1.7 1.6.4 "
             "2.3-2-1.1-2 1.1.4-2.3L8.7 14l2.3-.3z' fill='white'/>")},
        {QStringLiteral("hourglass.bottomhalf.filled"),
         QStringLiteral(
             "<path d='M6 3h12M6 21h12M7 3c0 5 5 6 5 9s-5 4-5 9M17 3c0 5-5 6-5 9s5 4 5 9' fill='none' "
             "stroke='COLOR' stroke-width='1.8' stroke-linecap='round'/>"
             "<path d='M8 20c.5-3 4-4 4-4s3.5 1 4 4z' fill='COLOR'/>")},
        {QStringLiteral("doc.on.doc"),
         QStringLiteral("<rect x='8' y='7' width='12' height='14' rx='2' fill='none' stroke='COLOR' "
                        "stroke-width='1.8'/><path d='M16 4.5A1.5 1.5 0 0 0 14.5 3H6a2 2 0 0 0-2 2v11.5A1.5 "
                        "1.5 0 0 0 5.5 18' fill='none' stroke='COLOR' stroke-width='1.8' "
                        "stroke-linecap='round'/>")},
        {QStringLiteral("xmark.circle.fill"),
         QStringLiteral("<circle cx='12' cy='12' r='10' fill='COLOR'/><path d='M8.5 8.5l7 7M15.5 8.5l-7 7' "
                        "stroke='white' stroke-width='2' stroke-linecap='round'/>")},
        {QStringLiteral("info.circle"),
         QStringLiteral("<circle cx='12' cy='12' r='9' fill='none' stroke='COLOR' stroke-width='2'/>"
                        "<circle cx='12' cy='7.6' r='1.35' fill='COLOR'/>"
                        "<path d='M12 11v6' stroke='COLOR' stroke-width='2.2' stroke-linecap='round'/>")},
        {QStringLiteral("apple.logo"),
         QStringLiteral(
             "<path d='M15.6 3c.1 1.2-.4 2.4-1.1 3.2-.8.9-1.9 1.5-3 1.4-.1-1.2.4-2.4 1.1-3.2.8-.8 "
             "2-1.4 3-1.4zM19.5 16.6c-.5 1.2-.8 1.7-1.4 2.7-.9 1.4-2.2 3.1-3.7 3.1-1.4 0-1.7-.9-3.6-.9"
             "s-2.3.9-3.6.9c-1.6 0-2.8-1.6-3.7-3C1 15.6.7 11.2 2.3 8.9c1.1-1.6 2.8-2.5 4.5-2.5s2.8.9 "
             "4.1.9c1.3 0 2.2-.9 4.1-.9 1.5 0 3 .8 4.1 2.2-3.6 2-3 7.1.4 8z' fill='COLOR'/>")},
    };
    return table;
}
} // namespace

namespace SymbolIcons {
bool contains(const QString& name) {
    return bodies().contains(name);
}

QByteArray svg(const QString& name, const QColor& color) {
    const auto found = bodies().constFind(name);
    if (found == bodies().constEnd()) {
        return {};
    }
    QString body = *found;
    body.replace(QStringLiteral("'COLOR'"), QStringLiteral("'%1' fill-opacity='%2' stroke-opacity='%2'")
                                                .arg(color.name(QColor::HexRgb))
                                                .arg(color.alphaF()));
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24'>%1</svg>")
        .arg(body)
        .toUtf8();
}

QPixmap pixmap(const QString& name, const QSize& size, const QColor& color, double devicePixelRatio) {
    // Painted pieces ask for their symbol on every paint: each picture is drawn from its SVG once.
    const QString key = QStringLiteral("symbol:%1:%2x%3:%4:%5")
                            .arg(name)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(color.name(QColor::HexArgb))
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) {
        return cached;
    }
    const QByteArray text = svg(name, color);
    if (text.isEmpty()) {
        return {};
    }
    QSvgRenderer renderer(text);
    QPixmap image(size * devicePixelRatio);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    QPixmapCache::insert(key, image);
    return image;
}
} // namespace SymbolIcons

SymbolView::SymbolView(const QString& name, int size, const QColor& color, QWidget* parent)
    : QWidget(parent), m_name(name), m_size(size), m_color(color) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setColor(const QColor& color) {
    if (m_color != color) {
        m_color = color;
        update();
    }
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, SymbolIcons::pixmap(m_name, size(), m_color, devicePixelRatioF()));
}
