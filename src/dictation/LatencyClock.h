#pragma once

#include <QtGlobal>

// Stamps for the latency log lines, on the injectable Clock's monotonic time.
namespace LatencyClock {

// Clock monotonic seconds.
double now();
// Whole milliseconds from a stamp of `now()` to now, halves away from zero.
qint64 millisecondsSince(double stamp);

} // namespace LatencyClock
