#include "frame_plan.h"

namespace tools {

FrameStep FramePlan::Next() {
    FrameStep step;
    step.index = ++published_;
    if (faults_.resizeEvery > 0) {
        step.sizeIndex = static_cast<int>(((step.index - 1) / faults_.resizeEvery) % 2);
    }
    step.resize = step.index > 1 && step.sizeIndex != lastSizeIndex_;
    lastSizeIndex_ = step.sizeIndex;
    step.repeat = faults_.repeatEvery > 0 && step.index > 1 && step.index % faults_.repeatEvery == 0 && !step.resize;
    if (!step.repeat) {
        ++lastNumber_;
        if (faults_.skipEvery > 0 && lastNumber_ % (static_cast<uint32_t>(faults_.skipEvery) + 1) == 0) {
            ++lastNumber_;
            step.skipped = 1;
        }
    }
    step.frameNumber = lastNumber_;
    step.stopAfter = step.index == faults_.stopAfter;
    step.dropAfter = step.index == faults_.dropAfter;
    return step;
}

}  // namespace tools
