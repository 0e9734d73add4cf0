// A host whose every heap allocation is counted: once a camera streams, the
// driver must deliver frames and answer row reads without allocating. The
// frames come from quorvex-server in a child process, so that only the
// host's side is counted. Built natively only: there the program's
// operator new also serves the loaded library.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "host_harness.h"
#include "platform/process.h"

namespace {

std::atomic<int64_t> allocations{0};

void* CountedAllocation(std::size_t size) {
    ++allocations;
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return CountedAllocation(size);
}
void* operator new[](std::size_t size) {
    return CountedAllocation(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

namespace hosttest {
namespace {

constexpr int kPort = 3;
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kWarmUpFrames = 10;
constexpr int kCountedFrames = 100;
constexpr DWORD kStreamWaitMs = 20000;

// What the complete callback counts, on the camera's thread.
struct Counting {
    const DriverExports* driver = nullptr;
    std::vector<uint8_t> row = std::vector<uint8_t>(kWidth);
    std::atomic<int> frames{0};
    std::atomic<int> failedRows{0};
    int64_t atWarmUp = 0;        // allocations when the counted frames begin
    int64_t atEnd = 0;           // ... and when they end
    int64_t duringRowReads = 0;  // allocations inside getCVLGrabRow calls
    HANDLE done = nullptr;
};

Counting counting;

void QUORVEX_CALL OnFrame(int grabberNo, int portNo) {
    const int frame = ++counting.frames;
    if (frame == kWarmUpFrames) {
        counting.atWarmUp = allocations;
    }
    const int64_t beforeRows = allocations;
    for (int row = 0; row < kHeight; ++row) {
        if (counting.driver->getCVLGrabRow(grabberNo, portNo, counting.row.data(), row, 0, kWidth - 1) != 1) {
            ++counting.failedRows;
        }
    }
    if (frame > kWarmUpFrames && frame <= kWarmUpFrames + kCountedFrames) {
        counting.duringRowReads += allocations - beforeRows;
    }
    if (frame == kWarmUpFrames + kCountedFrames) {
        counting.atEnd = allocations;
        SetEvent(counting.done);
    }
}

class Allocation : public HostTest {};

TEST_F(Allocation, StreamingAndRowReadsAllocateNothingPerFrame) {
    const std::string share = UniqueName("alloc");
    platform::ChildProcess server;
    ASSERT_TRUE(server.Start(platform::FolderOf(platform::ProgramPath()) + "/" + QUORVEX_SERVER_TOOL_FILE,
                             {"--share", share, "--size", std::to_string(kWidth) + "x" + std::to_string(kHeight),
                              "--fps", "200", "--clients", "1"},
                             systemDir.Path() + "/server.out"));
    platform::UniqueEvent done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    counting.driver = &driver;
    counting.done = done.get();
    WriteSection("Camera 1", CameraSection{share, 1, 10000});
    ASSERT_EQ(1, Initialize());
    int dimensions[2] = {kPoison, kPoison};
    ASSERT_EQ(1, driver.openCVLPort(kGrabber, kPort, "Camera 1", dimensions));
    EXPECT_EQ(kWidth, dimensions[0]);
    ASSERT_EQ(1, driver.setCompleteCallback(kGrabber, kPort, &OnFrame));

    const bool streamed = WaitForSingleObject(done.get(), kStreamWaitMs) == WAIT_OBJECT_0;
    driver.closeCVLPort(kGrabber, kPort);
    EXPECT_EQ(1, Finalize());
    server.Kill();

    ASSERT_TRUE(streamed) << counting.frames << " frames arrived";
    EXPECT_EQ(0, counting.failedRows);
    EXPECT_EQ(0, counting.atEnd - counting.atWarmUp) << "heap allocations over " << kCountedFrames << " frames";
    EXPECT_EQ(0, counting.duringRowReads) << "heap allocations in " << kCountedFrames * kHeight << " row reads";
}

}  // namespace
}  // namespace hosttest
