#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// The numbers behind the recording overlay's pill, as pure functions.
namespace RecordingOverlayMath {

inline constexpr int kBarCount = 8;
inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kPhaseStep = 0.18;  // per 50 ms tick
inline constexpr int kBottomMargin = 18;    // pixels between the pill and the bottom of the screen
inline constexpr double kQuietLevel = 0.02; // at or below: the bars rest

// The recorder's average power (dBFS, -160 silence .. 0 full scale) as a level from 0 to 1: -55 dB and
// below read 0, 0 dB and above 1, linear between; levels under 0.1 (about -49.5 dB) are gated to 0.
double normalizedLevel(float averagePower);

// The animation phase after one tick: 0.18 further, back to 0 once it would pass 2 pi.
double nextPhase(double phase);

// Height in pixels (4 to 20) of bar `index` (0 to 7) at a level and phase: a level-weighted base plus a
// ripple that travels along the bars as the phase advances.
double barHeight(double level, int index, double phase);

// Opacity (0.28 to 1) of bar `index` at a level.
double barOpacity(double level, int index);

// Where a pill of `size` goes on a screen whose usable area is `available`: centred horizontally,
// its bottom edge 18 pixels above the bottom of that area.
QPoint panelOrigin(const QRect& available, const QSize& size);

// Which of the screens (their areas, in the same pixels as `window`) holds a window: the one containing
// its centre, else the one it overlaps most; -1 when it lies on none.
int screenIndexForWindow(const QList<QRect>& screens, const QRect& window);

// The pill's opacity `elapsed` seconds into a fade from `from` to `to` lasting `duration` seconds
// (ease-out: quick at first, settling at the end); `to` once the fade is over.
double fadeOpacity(double from, double to, double elapsed, double duration);

} // namespace RecordingOverlayMath
