// Reading and writing image files for the tools, through stb_image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_pattern.h"

namespace tools {

struct Image {
    FrameGeometry geometry;
    std::vector<uint8_t> pixels;  // rows back to back, row 0 first
};

// Loads a PNG, JPEG, BMP or PGM/PPM file with `bytesPerPixel` channels:
// 1 gray, 2 gray and alpha, 3 RGB, 4 RGBA, converting as needed. On failure
// `error` names the file and the reason.
bool LoadImageFile(const std::string& path, int bytesPerPixel, Image& image, std::string& error);

// The bytes per pixel that stands for "as the files are" (ImageFileBytesPerPixel).
constexpr int kBytesPerPixelOfFiles = 0;

// The bytes per pixel a file is served with when none is asked for: 1 for
// gray (with or without alpha), 3 for RGB, 4 for RGBA; 0 with `error` when
// the file cannot be read.
int ImageFileBytesPerPixel(const std::string& path, std::string& error);

// Writes the pixels as a PNG with one channel per byte of a pixel (1 to 4).
bool SavePng(const std::string& path, const FrameGeometry& geometry, const uint8_t* pixels);

// The files that `pattern` names, sorted by name: a single file; a folder,
// meaning the image files in it; or a folder and a file name with * and ?,
// matched without regard to ASCII letter case. On failure (nothing matches,
// no such folder) `error` says why and the list is empty.
std::vector<std::string> ListImageFiles(const std::string& pattern, std::string& error);

// Whether `name` matches `wildcard` (* any run, ? one character), ignoring
// ASCII letter case.
bool WildcardMatch(const std::string& wildcard, const std::string& name);

}  // namespace tools
