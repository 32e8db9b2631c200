#include "PulseOutputMuteControl.h"

std::unique_ptr<OutputMuteControl> OutputMuteControl::open() {
    return std::make_unique<PulseOutputMuteControl>();
}
