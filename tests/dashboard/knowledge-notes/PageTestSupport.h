#pragma once

#include <QDir>
#include <QImage>
#include <QSet>
#include <QString>
#include <QWidget>

#include <algorithm>

// Where the page pictures go for people to look at: $QUILLVANE_GALLERY_DIR, else a folder in /tmp.
inline QString galleryFolder() {
    const QString folder = qEnvironmentVariable("QUILLVANE_GALLERY_DIR",
                                                QDir::tempPath() + QStringLiteral("/quillvane-gallery"));
    QDir().mkpath(folder);
    return folder;
}

// A picture that shows anything at all has many colours (text is anti-aliased).
inline int distinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            colours.insert(image.pixel(x, y));
        }
    }
    return int(colours.size());
}

// The children of `root` with this object name, top to bottom.
inline QList<QWidget*> widgetsTopToBottom(const QWidget* root, const QString& name) {
    QList<QWidget*> result = root->findChildren<QWidget*>(name);
    std::sort(result.begin(), result.end(), [](QWidget* x, QWidget* y) { return x->y() < y->y(); });
    return result;
}
