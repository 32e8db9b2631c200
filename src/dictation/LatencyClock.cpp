#include "LatencyClock.h"

#include "Clock.h"

#include <cmath>

namespace LatencyClock {

double now() {
    return Clock::current().monotonicSeconds();
}

qint64 millisecondsSince(double stamp) {
    return std::llround((now() - stamp) * 1000.0);
}

} // namespace LatencyClock
