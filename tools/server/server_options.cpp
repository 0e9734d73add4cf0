#include "server_options.h"

#include "image_files.h"
#include "quorvex_server.h"
#include "test_pattern.h"

namespace tools {
namespace {

struct RawFormat {
    const char* name;
    int format;
    int bytesPerPixel;
};

const RawFormat kRawFormats[] = {
    {"gray8", QUORVEX_FORMAT_GRAY8, 1},   {"rgb24", QUORVEX_FORMAT_RGB24, 3},   {"bgr24", QUORVEX_FORMAT_BGR24, 3},
    {"rgba32", QUORVEX_FORMAT_RGBA32, 4}, {"bgra32", QUORVEX_FORMAT_BGRA32, 4},
};

constexpr int kLargestSide = 8192;
constexpr int kLargestFps = 1000;
constexpr int kLargestCount = 1000000000;

// The options that shape the test pattern or the image files, which raw
// input from --stdin replaces.
const char* const kNotWithStdin[] = {"size",       "bpp",          "images",     "resize-every",
                                     "skip-every", "repeat-every", "stop-after", "drop-after",
                                     "genicam",    "feature",      "list"};

}  // namespace

bool LookUpRawFormat(const std::string& name, int& format, int& bytesPerPixel) {
    for (const RawFormat& raw : kRawFormats) {
        if (name == raw.name) {
            format = raw.format;
            bytesPerPixel = raw.bytesPerPixel;
            return true;
        }
    }
    return false;
}

ParseOutcome ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& text) {
    bool help = false;
    ArgParser parser(
        "Usage: quorvex-server [options]\n"
        "Serves frames to Quorvex camera drivers on a share: a moving test pattern\n"
        "that carries frame numbers and timestamps, or image files.");
    parser.Text("share", "NAME", options.share, "share name (default \"Camera Share\")");
    parser.Size("size", options.size, kLargestSide, "frame size of the test pattern (default 640x480)");
    parser.Custom(
        "bpp", "1|3|4",
        [&options](const std::string& value, std::string& reason) {
            if (value == "1" || value == "3" || value == "4") {
                options.bytesPerPixel = value[0] - '0';
                return true;
            }
            reason = "is not 1, 3 or 4 bytes per pixel";
            return false;
        },
        "bytes per pixel: gray, RGB or RGBA (default 1; with --images: as the first file, gray, RGB or RGBA)");
    parser.Int("fps", options.fps, 0, kLargestFps,
               "frames per second; 0 publishes without pause (default 30; with --stdin: 0, as they come)");
    parser.Int("frames", options.frames, 0, kLargestCount, "frames to publish, then quit; 0 until Ctrl+C (default 0)");
    parser.Text("images", "PATTERN", options.images,
                "serve image files (PNG, JPEG, BMP, PGM/PPM) in a loop: a file, a folder, or dir/*.png");
    parser.Int("clients", options.clients, 1, QUORVEX_SERVER_MAX_CLIENTS, "most hosts attached at once (default 4)");
    parser.Int("wait-for-hosts", options.waitForHosts, 0, QUORVEX_SERVER_MAX_CLIENTS,
               "hold the first frame until N hosts can take it, so that they see every frame (default 0)");
    parser.Int("wait-timeout", options.waitTimeout, 1, kLargestCount,
               "with --wait-for-hosts: give up after N seconds, with exit code 1 (default: wait until Ctrl+C)");
    parser.Int("resize-every", options.faults.resizeEvery, 0, kLargestCount,
               "switch between the size and half of it every N frames");
    parser.Int("stop-after", options.faults.stopAfter, 0, kLargestCount, "send Stop to the clients after frame N");
    parser.Int("drop-after", options.faults.dropAfter, 0, kLargestCount,
               "drop the clients after frame N, as a crashing server would");
    parser.Int("skip-every", options.faults.skipEvery, 0, kLargestCount,
               "leave out one frame number after every N numbers");
    parser.Int("repeat-every", options.faults.repeatEvery, 0, kLargestCount,
               "publish every N-th frame as a copy of the one before");
    parser.Size("stdin", options.stdinSize, kLargestSide,
                "read raw frames of WxH pixels back to back from standard input and publish each");
    parser.Custom(
        "format", "gray8|rgb24|bgr24|rgba32|bgra32",
        [&options](const std::string& value, std::string& reason) {
            if (LookUpRawFormat(value, options.format, options.bytesPerPixel)) {
                options.formatName = value;
                return true;
            }
            reason = "is not gray8, rgb24, bgr24, rgba32 or bgra32";
            return false;
        },
        "the pixel layout of the --stdin frames");
    std::string genicam;
    parser.OptionalText("genicam", "DEVICE", genicam,
                        "serve a GenICam camera (GigE Vision, USB3 Vision) through Aravis: the one named, or the "
                        "first found");
    parser.Custom(
        "feature", "NAME=VALUE",
        [&options](const std::string& value, std::string& reason) {
            const size_t equals = value.find('=');
            if (equals == 0 || equals == std::string::npos) {
                reason = "is not NAME=VALUE";
                return false;
            }
            options.features.push_back(value);
            return true;
        },
        "with --genicam: set a GenICam feature before streaming (ExposureTime, Gain, "
        "AcquisitionFrameRate, Width, Height, PixelFormat...); may be repeated");
    parser.Flag("list", options.list, "list the GenICam cameras and quit");
    parser.Flag("allow-other-users", options.allowOtherUsers,
                "let hosts of every user of this machine attach, not only your own (Windows)");
    parser.Flag("help", help, "show this help");

    const ParseOutcome outcome = parser.Outcome(args, help, text);
    if (outcome != ParseOutcome::Run) {
        return outcome;
    }
    if (parser.Given("wait-timeout") && !parser.Given("wait-for-hosts")) {
        text = "--wait-timeout needs --wait-for-hosts";
        return ParseOutcome::Error;
    }
    if (options.waitForHosts > options.clients) {
        text = "--wait-for-hosts: " + std::to_string(options.waitForHosts) + " hosts cannot attach with --clients " +
               std::to_string(options.clients);
        return ParseOutcome::Error;
    }
    options.fromStdin = parser.Given("stdin");
    if (options.fromStdin != parser.Given("format")) {
        text = options.fromStdin ? "--stdin needs --format to say how the frames' pixels are laid out"
                                 : "--format describes the frames of --stdin; give --stdin WxH too";
        return ParseOutcome::Error;
    }
    if (options.fromStdin) {
        for (const char* other : kNotWithStdin) {
            if (parser.Given(other)) {
                text = std::string("--") + other + " does not go with --stdin, whose frames come as they are";
                return ParseOutcome::Error;
            }
        }
        // Raw frames come as fast as their producer makes them unless --fps
        // asks for a pace.
        if (!parser.Given("fps")) {
            options.fps = 0;
        }
        return ParseOutcome::Run;
    }
    if (options.faults.repeatEvery == 1) {
        text = "--repeat-every: \"1\" would repeat the first frame for ever; give 2 or more";
        return ParseOutcome::Error;
    }
    if (parser.Given("genicam")) {
        options.genicam = genicam;
        for (const char* patternOnly : {"images", "size", "bpp", "fps", "resize-every", "stop-after", "drop-after",
                                        "skip-every", "repeat-every"}) {
            if (parser.Given(patternOnly)) {
                text = std::string("--") + patternOnly + " does not work with --genicam: the camera makes the frames";
                return ParseOutcome::Error;
            }
        }
        return ParseOutcome::Run;
    }
    if (parser.Given("feature")) {
        text = "--feature needs --genicam";
        return ParseOutcome::Error;
    }
    if (!options.images.empty()) {
        for (const char* patternOnly : {"size", "resize-every", "skip-every"}) {
            if (parser.Given(patternOnly)) {
                text = std::string("--") + patternOnly + " works with the test pattern only, not with --images";
                return ParseOutcome::Error;
            }
        }
        if (!parser.Given("bpp")) {
            options.bytesPerPixel = kBytesPerPixelOfFiles;
        }
        return ParseOutcome::Run;
    }
    const FrameGeometry smaller{(options.size.width + 1) / 2, (options.size.height + 1) / 2, options.bytesPerPixel};
    const FrameGeometry main{options.size.width, options.size.height, options.bytesPerPixel};
    if (!HoldsPattern(main) || (options.faults.resizeEvery > 0 && !HoldsPattern(smaller))) {
        text = "--size: frames of " + std::to_string(options.size.width) + "x" + std::to_string(options.size.height) +
               " are too small for the test pattern, which needs " + std::to_string(kPatternMinBytes) + " bytes" +
               (options.faults.resizeEvery > 0 ? " also at half the size" : "");
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

}  // namespace tools
