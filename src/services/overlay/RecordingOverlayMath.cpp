#include "RecordingOverlayMath.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace RecordingOverlayMath {

namespace {
constexpr std::array<double, kBarCount> kBarWeights{0.3, 0.48, 0.64, 0.82, 1.0, 0.78, 0.56, 0.38};
constexpr double kFloorDb = -55.0;
constexpr double kGate = 0.1;
constexpr double kRestHeight = 4.0;
constexpr double kHeightRange = 16.0;
} // namespace

double normalizedLevel(float averagePower) {
    if (std::isnan(averagePower)) {
        return 0.0; // an unreadable meter is silence, not full scale
    }
    const double p = averagePower;
    const double level = p < 0.0 ? (std::max(p, kFloorDb) - kFloorDb) / -kFloorDb : 1.0;
    return level < kGate ? 0.0 : level;
}

double nextPhase(double phase) {
    const double next = phase + kPhaseStep;
    return next > kTwoPi ? 0.0 : next;
}

double barHeight(double level, int index, double phase) {
    if (level <= kQuietLevel || index < 0 || index >= kBarCount) {
        return kRestHeight;
    }
    const double base = std::max(level * kBarWeights[std::size_t(index)], 0.02);
    const double ripple = std::max(std::sin(0.42 * index + phase), 0.0) * std::min(level * 0.18, 0.16);
    return kRestHeight + kHeightRange * std::min(base + ripple, 1.0);
}

double barOpacity(double level, int index) {
    if (level <= kQuietLevel) {
        return 0.28;
    }
    return std::max(std::min(level + 0.05 * index, 1.0), 0.35);
}

QPoint panelOrigin(const QRect& available, const QSize& size) {
    const int x = available.x() + (available.width() - size.width()) / 2;
    const int y = available.y() + available.height() - kBottomMargin - size.height();
    return {x, y};
}

int screenIndexForWindow(const QList<QRect>& screens, const QRect& window) {
    int best = -1;
    qint64 bestArea = 0;
    for (int i = 0; i < screens.size(); ++i) {
        if (screens[i].contains(window.center())) {
            return i;
        }
        const QRect overlap = screens[i].intersected(window);
        const qint64 area = qint64(overlap.width()) * overlap.height();
        if (!overlap.isEmpty() && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

double fadeOpacity(double from, double to, double elapsed, double duration) {
    if (!(duration > 0.0) || !(elapsed < duration)) {
        return to;
    }
    const double t = std::max(elapsed, 0.0) / duration;
    const double eased = 1.0 - (1.0 - t) * (1.0 - t);
    return from + (to - from) * eased;
}

} // namespace RecordingOverlayMath
