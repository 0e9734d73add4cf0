#include "storm_host.h"

#include <cstdlib>
#include <random>
#include <sstream>

#include "platform/process_resources.h"
#include "platform/system_names.h"
#include "support/host_frame.h"

namespace storm {
namespace {

// The build's choice, for the time its tests may take.
constexpr int kDefaultSeconds = QUORVEX_STORM_SECONDS;
// Frames beyond this are not read back: no server of the storm writes one.
constexpr long long kLargestFrameRead = 16 * 1024 * 1024;

}  // namespace

RunSettings RunSettings::FromEnvironment() {
    RunSettings settings;
    const char* seed = std::getenv("QUORVEX_STORM_SEED");
    settings.seed = seed != nullptr && *seed != '\0' ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10))
                                                     : std::random_device{}();
    const char* seconds = std::getenv("QUORVEX_STORM_SECONDS");
    settings.seconds = seconds != nullptr && std::atoi(seconds) > 0 ? std::atoi(seconds) : kDefaultSeconds;
    return settings;
}

std::string FrameTally::Summary() const {
    std::ostringstream text;
    text << whole << " whole, " << unfinished << " left unfinished by a killed server, " << otherGeometry
         << " of another size than announced, " << torn << " torn, " << refused << " refused reads";
    return text.str();
}

FrameCheck ReadFrameBack(const hosttest::DriverExports& driver, int port, std::vector<uint8_t>& scratch,
                         FrameTally& tally) {
    testsupport::FrameShape shape;
    FrameCheck refused;
    if (!testsupport::ReadShape(driver, port, shape)) {
        ++tally.refused;
        return refused;
    }
    const long long rowBytes = static_cast<long long>(shape.width) * shape.bytesPerPixel;
    if (rowBytes <= 0 || shape.height <= 0 || rowBytes * shape.height > kLargestFrameRead) {
        ++tally.otherGeometry;
        FrameCheck other;
        other.verdict = Verdict::OtherGeometry;
        return other;
    }
    if (!testsupport::ReadRows(driver, port, shape, scratch)) {
        ++tally.refused;
        return refused;
    }
    const FrameCheck check = CheckFrame(scratch, static_cast<int>(rowBytes), shape.height);
    switch (check.verdict) {
    case Verdict::Whole:
        ++tally.whole;
        break;
    case Verdict::Unfinished:
        ++tally.unfinished;
        break;
    case Verdict::OtherGeometry:
        ++tally.otherGeometry;
        break;
    case Verdict::Torn:
        ++tally.torn;
        break;
    }
    return check;
}

ProcessResources ProcessResources::Now() {
    return ProcessResources{platform::OpenHandleCount(), platform::ThreadCount()};
}

testing::AssertionResult ReturnsTo(const ProcessResources& before, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    ProcessResources now = ProcessResources::Now();
    while ((now.handles > before.handles || now.threads > before.threads) && Since(start) < milliseconds) {
        Sleep(50);
        now = ProcessResources::Now();
    }
    if (now.handles > before.handles || now.threads > before.threads) {
        return testing::AssertionFailure() << "handles " << before.handles << " -> " << now.handles << ", threads "
                                           << before.threads << " -> " << now.threads;
    }
    return testing::AssertionSuccess() << "handles " << now.handles << ", threads " << now.threads;
}

testing::AssertionResult NamesGone(const std::string& share) {
    platform::RemoveAbandonedNames();
    for (const std::string& name : {share, share + "Mutex"}) {
        if (platform::NameIsListed(name)) {
            return testing::AssertionFailure() << "the name " << name << " is still listed";
        }
    }
    return testing::AssertionSuccess();
}

std::string StormShare(const char* purpose) {
    return hosttest::UniqueName(std::string("qv-") + purpose + "-");
}

}  // namespace storm
