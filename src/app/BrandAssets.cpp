#include "BrandAssets.h"

#include <QDir>
#include <QFileInfo>

// Outside any namespace, as the resource initialiser requires.
static void initShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace {

void initResources() {
    static const bool done = [] {
        initShellResources();
        return true;
    }();
    Q_UNUSED(done);
}

std::optional<QImage> readImage(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() == 0) {
        return std::nullopt;
    }
    QImage image(path);
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

} // namespace

const QStringList& BrandAssets::appIconResourceCandidates() {
    static const QStringList list = {QStringLiteral("AppIcon"), QStringLiteral("AppIcon.icns"),
                                     QStringLiteral("AppIconRounded1024.png"),
                                     QStringLiteral("quillvane_icon.png")};
    return list;
}

const QStringList& BrandAssets::appIconRelativePaths() {
    static const QStringList list = {QStringLiteral("macos/Resources/AppIconRounded1024.png"),
                                     QStringLiteral("macos/Resources/quillvane_icon.png"),
                                     QStringLiteral("Resources/AppIconRounded1024.png"),
                                     QStringLiteral("Resources/quillvane_icon.png"),
                                     QStringLiteral("client/assets/AppIconRounded1024.png"),
                                     QStringLiteral("client/assets/quillvane_icon.png"),
                                     QStringLiteral("../client/assets/AppIconRounded1024.png"),
                                     QStringLiteral("../client/assets/quillvane_icon.png")};
    return list;
}

const QStringList& BrandAssets::sidebarIconResourceCandidates() {
    static const QStringList list = {QStringLiteral("quillvane_nav@2x.png"),
                                     QStringLiteral("quillvane_nav.png"), QStringLiteral("high_icon.png")};
    return list;
}

const QStringList& BrandAssets::sidebarIconRelativePaths() {
    static const QStringList list = {QStringLiteral("macos/Resources/quillvane_nav@2x.png"),
                                     QStringLiteral("macos/Resources/quillvane_nav.png"),
                                     QStringLiteral("Resources/quillvane_nav@2x.png"),
                                     QStringLiteral("Resources/quillvane_nav.png"),
                                     QStringLiteral("client/assets/quillvane_nav@2x.png"),
                                     QStringLiteral("client/assets/quillvane_nav.png"),
                                     QStringLiteral("macos/Resources/high_icon.png"),
                                     QStringLiteral("Resources/high_icon.png"),
                                     QStringLiteral("client/assets/high_icon.png"),
                                     QStringLiteral("../client/assets/high_icon.png"),
                                     QStringLiteral("../client/assets/quillvane_nav@2x.png"),
                                     QStringLiteral("../client/assets/quillvane_nav.png")};
    return list;
}

std::optional<QImage> BrandAssets::appIcon() {
    static const std::optional<QImage> image =
        loadImage(appIconResourceCandidates(), appIconRelativePaths(), QDir::currentPath());
    return image;
}

std::optional<QImage> BrandAssets::sidebarIcon() {
    static const std::optional<QImage> image =
        loadImage(sidebarIconResourceCandidates(), sidebarIconRelativePaths(), QDir::currentPath());
    return image;
}

std::optional<QImage> BrandAssets::loadImage(const QStringList& resourceCandidates,
                                             const QStringList& relativePaths,
                                             const QString& workingDirectory) {
    for (const QString& name : resourceCandidates) {
        if (auto image = loadBundledImage(name)) {
            return image;
        }
    }
    const QDir base(workingDirectory);
    for (const QString& relative : relativePaths) {
        if (auto image = readImage(QDir::cleanPath(base.absoluteFilePath(relative)))) {
            return image;
        }
    }
    return std::nullopt;
}

std::optional<QImage> BrandAssets::loadBundledImage(const QString& name) {
    initResources();
    const QString prefix = QStringLiteral(":/brand/");
    if (auto image = readImage(prefix + name)) {
        return image;
    }
    // The named lookup: "AppIcon.icns" and "quillvane_nav@2x.png" are found as "AppIcon" and
    // "quillvane_nav" in any format we ship.
    QString stem = QFileInfo(name).completeBaseName();
    if (stem.isEmpty()) {
        stem = name;
    }
    stem.remove(QStringLiteral("@2x"));
    for (const char* extension : {".svg", ".png"}) {
        if (auto image = readImage(prefix + stem + QLatin1String(extension))) {
            return image;
        }
    }
    return std::nullopt;
}
