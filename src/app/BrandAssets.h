#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

// The two product images the shell draws itself: the application icon (window and tray) and the small
// sidebar logo. Each is looked up first among the program's compiled-in resources (":/brand/"), then at a
// fixed list of paths relative to the working directory (runs from a source checkout). The first candidate
// that loads wins; an unreadable or empty file is passed over. Each result is computed once per process.
class BrandAssets {
public:
    BrandAssets() = delete;

    static std::optional<QImage> appIcon();
    static std::optional<QImage> sidebarIcon();

    static const QStringList& appIconResourceCandidates();
    static const QStringList& appIconRelativePaths();
    static const QStringList& sidebarIconResourceCandidates();
    static const QStringList& sidebarIconRelativePaths();

    // The first image among the resources, then among the paths relative to `workingDirectory`
    // (resolved lexically, so "../" steps work).
    static std::optional<QImage> loadImage(const QStringList& resourceCandidates,
                                           const QStringList& relativePaths, const QString& workingDirectory);
    // A compiled-in resource by exact name, else by its name without extension as SVG or PNG.
    static std::optional<QImage> loadBundledImage(const QString& name);
};
