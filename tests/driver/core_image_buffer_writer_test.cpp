// ImageBuffer's writer: the thread that stores the frames reads its rows
// without the lock; every other thread waits for a frame copy in progress.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "camera/image_buffer.h"
#include "core_test_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 4;
constexpr DWORD kWaitMs = 10000;
const FrameGeometry kShape{kWidth, kHeight, 1};

class ImageBufferWriterTest : public coretest::CoreTest {
protected:
    void SetUp() override {
        coretest::CoreTest::SetUp();
        buffer.Allocate(kWidth, kHeight, 1);
        frame.assign(static_cast<size_t>(kWidth * kHeight), 0);
        for (size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<uint8_t>(i * 3 + 1);
        }
    }

    ImageBuffer buffer;
    std::vector<uint8_t> frame;
};

TEST_F(ImageBufferWriterTest, TheThreadThatStoresIsTheWriterUntilAReallocation) {
    EXPECT_FALSE(buffer.WrittenOnThisThread()) << "no frame stored yet";
    ASSERT_TRUE(buffer.StoreFrame(frame.data(), kShape));
    EXPECT_TRUE(buffer.WrittenOnThisThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = buffer.WrittenOnThisThread(); }).join();
    EXPECT_FALSE(elsewhere);
    buffer.Allocate(kWidth, kHeight, 1);
    EXPECT_FALSE(buffer.WrittenOnThisThread()) << "a reallocation ends the mark";
}

TEST_F(ImageBufferWriterTest, AFrameOfAnotherShapeDoesNotMakeTheWriter) {
    EXPECT_FALSE(buffer.StoreFrame(frame.data(), FrameGeometry{kHeight, kWidth, 1}));
    EXPECT_FALSE(buffer.WrittenOnThisThread());
}

// The writer's row reads take no lock: a host reading rows inside its
// complete callback does not wait for a thread that holds the lock.
TEST_F(ImageBufferWriterTest, TheWriterReadsRowsWhileAnotherThreadHoldsTheLock) {
    std::vector<uint8_t> row(kWidth, 0);
    std::atomic<bool> copied{false};
    platform::UniqueEvent stored(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    platform::UniqueEvent read(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread writer([&] {
        buffer.StoreFrame(frame.data(), kShape);
        SetEvent(stored.get());
        if (WaitForSingleObject(read.get(), kWaitMs) == WAIT_OBJECT_0) {
            copied = buffer.CopyRow(2, row.data(), kWidth);
        }
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stored.get(), kWaitMs));
    {
        platform::CriticalSectionLock hold(buffer.Lock());
        SetEvent(read.get());
        const DWORD start = GetTickCount();
        while (!copied && GetTickCount() - start < kWaitMs) {
            Sleep(1);
        }
        EXPECT_TRUE(copied) << "the writer waited for the lock";
    }
    writer.join();
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 2 * kWidth, frame.begin() + 3 * kWidth), row);
}

// Any other thread's row read waits for the lock, and so for a frame copy.
TEST_F(ImageBufferWriterTest, AnotherThreadsRowReadWaitsForTheLock) {
    ASSERT_TRUE(buffer.StoreFrame(frame.data(), kShape));
    std::vector<uint8_t> row(kWidth, 0);
    std::atomic<bool> copied{false};
    platform::UniqueEvent started(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread reader;
    {
        platform::CriticalSectionLock hold(buffer.Lock());
        reader = std::thread([&] {
            SetEvent(started.get());
            copied = buffer.CopyRow(1, row.data(), kWidth);
        });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.get(), kWaitMs));
        Sleep(50);
        EXPECT_FALSE(copied) << "a row was read under another thread's lock";
    }
    reader.join();
    EXPECT_TRUE(copied);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + kWidth, frame.begin() + 2 * kWidth), row);
}

// A row read that comes while a frame is being stored waits for the whole
// frame: it sees the new frame's row, never a mix.
TEST_F(ImageBufferWriterTest, ARowReadDuringAFrameCopySeesTheWholeNewFrame) {
    constexpr int32_t kBigWidth = 4096;
    constexpr int32_t kBigHeight = 512;
    const FrameGeometry bigShape{kBigWidth, kBigHeight, 1};
    buffer.Allocate(kBigWidth, kBigHeight, 1);
    std::vector<uint8_t> zeros(static_cast<size_t>(kBigWidth) * kBigHeight, 0);
    std::vector<uint8_t> ones(zeros.size(), 1);
    std::atomic<bool> quit{false};
    platform::UniqueEvent first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The one thread that stores frames, as the camera's link thread is.
    std::thread writer([&] {
        for (int i = 0; i < 200 && !quit; ++i) {
            buffer.StoreFrame((i % 2) == 0 ? ones.data() : zeros.data(), bigShape);
            SetEvent(first.get());
        }
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.get(), kWaitMs));
    std::vector<uint8_t> last(kBigWidth);
    int mixed = 0;
    for (int i = 0; i < 2000; ++i) {
        // The last row is written last: a read that did not wait for the
        // copy finds it half old, half new.
        ASSERT_TRUE(buffer.CopyRow(kBigHeight - 1, last.data(), kBigWidth));
        if (std::vector<uint8_t>(last.size(), last[0]) != last) {
            ++mixed;
        }
    }
    quit = true;
    writer.join();
    EXPECT_EQ(0, mixed) << "a row was read while a frame was being copied over it";
}

}  // namespace
