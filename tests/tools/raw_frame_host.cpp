// A host for the tests of raw input, on the host library: it opens Camera 1
// on a share, says "ready WxH" once the camera has the server's frame size,
// and writes the bytes of every frame it receives, rows back to back, to a
// file, until it has the frames asked for. Beside it, OUTPUT_FILE.numbers
// gets a line per frame: the server's number, the gap before it and its age
// on arrival in milliseconds.
//
//   raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS [stop]
//
// With "stop", it then waits for the server to end the stream with its Stop
// and says "stopped". Exit code 0 when all the frames came whole within the
// time-out, none lost, and the Stop after them when asked for; 1 otherwise.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/process.h"
#include "quorvex_host.h"

namespace {

constexpr const char* kCamera = "Camera 1";

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Opens the camera until its server has answered with its frame size: the
// camera keeps looking for its server, but says the size only to an open.
QuorvexHostCamera* OpenWhenServed(QuorvexHost* host, int queueDepth, Clock::time_point end) {
    const QuorvexHostCameraOptions options{1, queueDepth, 1};
    for (;;) {
        QuorvexHostCamera* camera = QuorvexHostCameraOpen(host, kCamera, &options);
        if (camera == nullptr) {
            std::fprintf(stderr, "raw_frame_host: %s\n", QuorvexHostLastError());
            return nullptr;
        }
        int width = 0;
        int height = 0;
        QuorvexHostCameraOpenedSize(camera, &width, &height);
        if (width > 0) {
            std::printf("ready %dx%d\n", width, height);
            std::fflush(stdout);
            return camera;
        }
        QuorvexHostCameraClose(camera);
        if (Remaining(end) == 0) {
            std::fprintf(stderr, "raw_frame_host: no server answered\n");
            return nullptr;
        }
    }
}

// Reads `wanted` frames into `output` and their numbers into `numbers`,
// then, with `untilStop`, the Stop.
bool Receive(QuorvexHostCamera* camera, int wanted, std::FILE* output, std::FILE* numbers, bool untilStop,
             Clock::time_point end) {
    int frames = 0;
    bool whole = true;
    bool stopped = false;
    while (frames < wanted || (untilStop && !stopped)) {
        QuorvexHostFrame frame{};
        const int result = QuorvexHostCameraRead(camera, Remaining(end), &frame);
        if (result == QUORVEX_HOST_FRAME) {
            const size_t bytes = static_cast<size_t>(frame.rowPitch) * static_cast<size_t>(frame.height);
            whole = std::fwrite(frame.pixels, 1, bytes, output) == bytes && whole;
            std::fprintf(numbers, "%lld %lld %lld\n", frame.serverNumber, frame.gap,
                         (frame.arrivedRealUs - frame.captureUs) / 1000);
            QuorvexHostCameraRelease(camera, &frame);
            ++frames;
            continue;
        }
        stopped = result == QUORVEX_HOST_ENDED && QuorvexHostCameraLinkState(camera) == QUORVEX_HOST_LINK_STOPPED;
        if (!stopped || frames < wanted) {
            std::fprintf(stderr, "raw_frame_host: %s\n", QuorvexHostLastError());
            break;
        }
    }
    QuorvexHostCounters counters{};
    QuorvexHostCameraCounters(camera, &counters);
    whole = whole && counters.replaced == 0 && counters.incomplete == 0;
    std::printf("received %d frames%s\n", frames, whole ? "" : ", some not read whole or lost");
    if (untilStop) {
        std::printf("%s\n", stopped ? "stopped" : "no Stop from the server");
    }
    return frames == wanted && whole && (stopped || !untilStop);
}

}  // namespace

int main(int argc, char** argv) {
    const bool untilStop = argc == 6 && std::string(argv[5]) == "stop";
    if (argc != 5 && !untilStop) {
        std::fprintf(stderr, "usage: raw_frame_host SHARE FRAMES OUTPUT_FILE TIMEOUT_MS [stop]\n");
        return 2;
    }
    const std::string share = argv[1];
    const int wanted = std::stoi(argv[2]);
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::stoul(argv[4]));
    const std::string systemDir = platform::FolderOf(argv[3]);
    QuorvexHost* host = QuorvexHostOpen(nullptr, systemDir.c_str());
    if (host == nullptr) {
        std::fprintf(stderr, "raw_frame_host: %s\n", QuorvexHostLastError());
        return 1;
    }
    const QuorvexHostSettings settings{share.c_str(), 2, 10000};
    const std::string numbersFile = std::string(argv[3]) + ".numbers";
    std::FILE* output = nullptr;
    std::FILE* numbers = nullptr;
    bool received = false;
    if (!QuorvexHostWriteSettings(host, kCamera, &settings)) {
        std::fprintf(stderr, "raw_frame_host: %s\n", QuorvexHostLastError());
    } else if ((output = std::fopen(argv[3], "wb")) == nullptr ||
               (numbers = std::fopen(numbersFile.c_str(), "w")) == nullptr) {
        std::fprintf(stderr, "raw_frame_host: cannot write %s\n", argv[3]);
    } else if (QuorvexHostCamera* camera = OpenWhenServed(host, wanted, end)) {
        // Every frame kept until written: none replaced unread.
        received = Receive(camera, wanted, output, numbers, untilStop, end);
        QuorvexHostCameraClose(camera);
    }
    for (std::FILE* file : {output, numbers}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    QuorvexHostClose(host);
    return received ? 0 : 1;
}
