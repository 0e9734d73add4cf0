// Where quorvex-server's frames come from: the test pattern, or image files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame_plan.h"
#include "image_files.h"
#include "test_pattern.h"

namespace tools {

// Produces the pixels of each planned frame. Used by the publishing thread.
class FrameSource {
public:
    virtual ~FrameSource() = default;

    // The largest frame the source will produce, for the shared segment.
    virtual int64_t LargestFrameBytes() const = 0;

    // The frame of `step`. For a repeat, the previous frame as it was. The
    // result stays valid until the next call.
    virtual const Image& Produce(const FrameStep& step) = 0;

    // How the source describes itself in the server's start line.
    virtual std::string Describe() const = 0;

    // The bytes per pixel of its (first) frame.
    virtual int BytesPerPixel() const = 0;
};

// The moving test pattern, stamped with the step's frame number and the
// shared clock at the moment the frame is drawn.
class PatternSource : public FrameSource {
public:
    // Frames have the geometry `main`, or OtherSize(main) where the plan
    // says so.
    explicit PatternSource(const FrameGeometry& main);

    int64_t LargestFrameBytes() const override;
    const Image& Produce(const FrameStep& step) override;
    std::string Describe() const override;
    int BytesPerPixel() const override;

    // The size the server switches to: half of each side, rounded up.
    static FrameGeometry OtherSize(const FrameGeometry& main);

private:
    FrameGeometry sizes_[2];
    Image frame_;
};

// Image files, served in name order and from the first again after the last.
class ImageSource : public FrameSource {
public:
    // Loads every file of `pattern` with `bytesPerPixel` channels, or with
    // those of the first file (ImageFileBytesPerPixel) for kBytesPerPixelOfFiles;
    // null with `error` when a file cannot be read or nothing matches.
    static std::unique_ptr<ImageSource> Load(const std::string& pattern, int bytesPerPixel, std::string& error);

    int64_t LargestFrameBytes() const override;
    const Image& Produce(const FrameStep& step) override;
    std::string Describe() const override;
    int BytesPerPixel() const override;

private:
    std::vector<Image> images_;
    size_t next_ = 0;
    const Image* current_ = nullptr;
};

}  // namespace tools
