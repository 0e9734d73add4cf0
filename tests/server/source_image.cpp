#include "source_image.h"

#include <cstring>
#include <random>

namespace sourceimage {

int BytesPerPixel(const SourceFormat& format) {
    return static_cast<int>(std::strlen(format.channels));
}

SourceImage MakeSource(const SourceFormat& format, int width, int height, int padding, uint32_t seed) {
    const int stride = width * BytesPerPixel(format) + padding;
    SourceImage image{format, width, height, stride, std::vector<uint8_t>(static_cast<size_t>(stride) * height)};
    std::mt19937 random(seed);
    for (uint8_t& byte : image.bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return image;
}

std::vector<uint8_t> Expected(const SourceImage& image, const std::string& order) {
    const std::string source = image.format.channels;
    const std::string target = source.size() == 1 ? source : order + (source.size() == 4 ? "A" : "");
    std::vector<uint8_t> frame;
    frame.reserve(static_cast<size_t>(image.width) * image.height * source.size());
    for (int row = 0; row < image.height; ++row) {
        const uint8_t* pixel = image.bytes.data() + static_cast<size_t>(row) * image.stride;
        for (int x = 0; x < image.width; ++x, pixel += source.size()) {
            for (char channel : target) {
                frame.push_back(pixel[source.find(channel)]);
            }
        }
    }
    return frame;
}

int Publish(QuorvexServer* server, const SourceImage& image) {
    return QuorvexServerPublishFrameEx(server, image.bytes.data(), image.width, image.height, image.stride,
                                       image.format.format);
}

}  // namespace sourceimage
