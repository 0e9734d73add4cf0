#include "frame_source.h"

#include <algorithm>

#include "shared_clock.h"

namespace tools {

PatternSource::PatternSource(const FrameGeometry& main) : sizes_{main, OtherSize(main)} {}

FrameGeometry PatternSource::OtherSize(const FrameGeometry& main) {
    return FrameGeometry{(main.width + 1) / 2, (main.height + 1) / 2, main.bytesPerPixel};
}

int64_t PatternSource::LargestFrameBytes() const {
    return std::max(sizes_[0].Bytes(), sizes_[1].Bytes());
}

const Image& PatternSource::Produce(const FrameStep& step) {
    if (step.repeat && !frame_.pixels.empty()) {
        return frame_;
    }
    frame_.geometry = sizes_[step.sizeIndex];
    frame_.pixels.resize(static_cast<size_t>(frame_.geometry.Bytes()));
    DrawPattern(frame_.geometry, PatternStamp{step.frameNumber, SharedClockMicroseconds()}, frame_.pixels.data());
    return frame_;
}

std::string PatternSource::Describe() const {
    return "the test pattern";
}

int PatternSource::BytesPerPixel() const {
    return sizes_[0].bytesPerPixel;
}

int ImageSource::BytesPerPixel() const {
    return images_.front().geometry.bytesPerPixel;
}

std::unique_ptr<ImageSource> ImageSource::Load(const std::string& pattern, int bytesPerPixel, std::string& error) {
    const std::vector<std::string> files = ListImageFiles(pattern, error);
    if (files.empty()) {
        return nullptr;
    }
    if (bytesPerPixel == kBytesPerPixelOfFiles) {
        bytesPerPixel = ImageFileBytesPerPixel(files.front(), error);
        if (bytesPerPixel == 0) {
            return nullptr;
        }
    }
    auto source = std::make_unique<ImageSource>();
    for (const std::string& file : files) {
        Image image;
        if (!LoadImageFile(file, bytesPerPixel, image, error)) {
            return nullptr;
        }
        source->images_.push_back(std::move(image));
    }
    return source;
}

int64_t ImageSource::LargestFrameBytes() const {
    int64_t largest = 0;
    for (const Image& image : images_) {
        largest = std::max(largest, image.geometry.Bytes());
    }
    return largest;
}

const Image& ImageSource::Produce(const FrameStep& step) {
    if (!step.repeat || current_ == nullptr) {
        current_ = &images_[next_];
        next_ = (next_ + 1) % images_.size();
    }
    return *current_;
}

std::string ImageSource::Describe() const {
    return std::to_string(images_.size()) + " image file(s)";
}

}  // namespace tools
