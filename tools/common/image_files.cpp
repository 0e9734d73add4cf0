#include "image_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>

#include <stb_image.h>
#include <stb_image_write.h>

namespace tools {
namespace {

namespace fs = std::filesystem;

constexpr const char* kImageExtensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".pgm", ".ppm", ".pnm"};

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool HasImageExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), Lower);
    return std::find(std::begin(kImageExtensions), std::end(kImageExtensions), extension) != std::end(kImageExtensions);
}

}  // namespace

bool LoadImageFile(const std::string& path, int bytesPerPixel, Image& image, std::string& error) {
    int width = 0;
    int height = 0;
    int channelsInFile = 0;
    std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load(path.c_str(), &width, &height, &channelsInFile, bytesPerPixel));
    if (!pixels) {
        error = "cannot read the image \"" + path + "\": " + stbi_failure_reason();
        return false;
    }
    image.geometry = FrameGeometry{width, height, bytesPerPixel};
    image.pixels.assign(pixels.get(), pixels.get() + image.geometry.Bytes());
    return true;
}

int ImageFileBytesPerPixel(const std::string& path, std::string& error) {
    int width = 0;
    int height = 0;
    int channelsInFile = 0;
    if (!stbi_info(path.c_str(), &width, &height, &channelsInFile)) {
        error = "cannot read the image \"" + path + "\": " + stbi_failure_reason();
        return 0;
    }
    return channelsInFile <= 2 ? 1 : channelsInFile;
}

bool SavePng(const std::string& path, const FrameGeometry& geometry, const uint8_t* pixels) {
    if (geometry.bytesPerPixel < 1 || geometry.bytesPerPixel > 4) {
        return false;
    }
    return stbi_write_png(path.c_str(), geometry.width, geometry.height, geometry.bytesPerPixel, pixels,
                          static_cast<int>(geometry.RowBytes())) != 0;
}

bool WildcardMatch(const std::string& wildcard, const std::string& name) {
    // Greedy matching with one backtrack point, the last star seen.
    size_t w = 0;
    size_t n = 0;
    size_t star = std::string::npos;
    size_t resume = 0;
    while (n < name.size()) {
        if (w < wildcard.size() && wildcard[w] == '*') {
            star = w++;
            resume = n;
        } else if (w < wildcard.size() && (wildcard[w] == '?' || Lower(wildcard[w]) == Lower(name[n]))) {
            ++w;
            ++n;
        } else if (star != std::string::npos) {
            w = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (w < wildcard.size() && wildcard[w] == '*') {
        ++w;
    }
    return w == wildcard.size();
}

std::vector<std::string> ListImageFiles(const std::string& pattern, std::string& error) {
    std::error_code ignored;
    const fs::path path(pattern);
    std::vector<std::string> files;
    if (fs::is_regular_file(path, ignored)) {
        files.push_back(pattern);
        return files;
    }
    const bool wholeFolder = fs::is_directory(path, ignored);
    const fs::path folder = wholeFolder ? path : (path.has_parent_path() ? path.parent_path() : fs::path("."));
    const std::string wildcard = wholeFolder ? std::string("*") : path.filename().string();
    std::error_code failure;
    fs::directory_iterator entries(folder, failure);
    if (failure) {
        error = "cannot list the folder \"" + folder.string() + "\": " + failure.message();
        return files;
    }
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file(ignored) && WildcardMatch(wildcard, name) &&
            (!wholeFolder || HasImageExtension(entry.path()))) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        error = "no image file matches \"" + pattern + "\"";
    }
    return files;
}

}  // namespace tools
