// Pipelines that the sink's tests run in a child process of their own
// program, built with GStreamer's API where gst-launch-1.0 cannot do what
// they need. Each child exits 0 when its pipeline reached the end of the
// stream.
#pragma once

namespace gsttest {

struct Size {
    int width;
    int height;
};
constexpr Size kFirstSize{64, 48};
constexpr Size kSecondSize{40, 30};
constexpr int kFramesPerSize = 10;
constexpr int kSecondSeed = 100;

// `--child=` kCapsChangeVerb SHARE: `appsrc ! quorvexsink` on the share,
// kFramesPerSize GRAY8 frames of kFirstSize, then as many of kSecondSize.
// Every byte of the first size's frame i holds i, of the second size's
// frame i kSecondSeed + i.
extern const char* const kCapsChangeVerb;

// `--child=` kLockstepVerb EVENT PIPELINE: runs the pipeline, whose
// quorvexsink is named "sink", one frame at a time: the sink takes each frame
// after the first only once the host has acknowledged the one before through
// the HostAcknowledgements named EVENT. So no frame can be overwritten before
// the host has it, however slow the machine.
extern const char* const kLockstepVerb;

}  // namespace gsttest
