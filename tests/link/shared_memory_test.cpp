#include "link/shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

#include "link_test_support.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using linktest::kWaitMs;
using linktest::LogCapture;
using linktest::Now;
using linktest::Pattern;
using linktest::StartServer;
using linktest::UniqueName;
using ReadStatus = CSharedMemory::ReadStatus;

constexpr int kSegmentBytes = 4096;  // one page, so that the view is exactly this long
constexpr uint8_t kPoison = 0xCD;

const char kEmptyNameLine[] = "CSharedMemory::CSharedMemory: ERROR: name is empty\n";
const char kInUseLine[] = "CSharedMemory::CSharedMemory: ERROR: Shared memory segment already in use\n";

std::string AccessLine(int error) {
    return "CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=" + std::to_string(error) +
           "\n";
}

std::string ShortLine(unsigned long segmentBytes, int frameBytes) {
    return "CSharedMemory::CSharedMemory: ERROR: segment of " + std::to_string(segmentBytes) +
           " bytes is shorter than the frame of " + std::to_string(frameBytes) + " bytes\n";
}

// True when the mutex of that name existed before this call (which opens it
// and closes it again).
bool MutexExists(const std::string& mutexName) {
    SetLastError(0xdeadbeef);
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, mutexName.c_str()));
    return mutex && GetLastError() == ERROR_ALREADY_EXISTS;
}

bool AllBytesAre(const std::vector<uint8_t>& bytes, uint8_t value) {
    for (uint8_t b : bytes) {
        if (b != value) {
            return false;
        }
    }
    return true;
}

// Holds the named mutex on a thread of its own, as a server stuck in its copy
// would, until released; or takes it and ends without releasing it, leaving
// it abandoned.
class MutexHolder {
public:
    enum class Mode { Hold, Abandon };

    MutexHolder(const std::string& mutexName, Mode mode)
        : held_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this, mutexName, mode] {
            platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, mutexName.c_str()));
            if (WaitForSingleObject(mutex.get(), kWaitMs) != WAIT_OBJECT_0) {
                return;
            }
            SetEvent(held_.get());
            if (mode == Mode::Hold) {
                WaitForSingleObject(release_.get(), 4 * kWaitMs);
                ReleaseMutex(mutex.get());
            }
        });
        if (mode == Mode::Abandon) {
            thread_.join();
        }
    }
    ~MutexHolder() {
        SetEvent(release_.get());
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

    bool WaitHeld() { return WaitForSingleObject(held_.get(), kWaitMs) == WAIT_OBJECT_0; }

private:
    platform::UniqueEvent held_;
    platform::UniqueEvent release_;
    std::thread thread_;
};

// A server process that publishes a frame, takes the segment's mutex,
// signals the event named by its second argument and then waits to be killed.
// Arguments: share name, event name.
int SegmentHolderChild(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return 2;
    }
    linktest::ServerPtr server(QuorvexServerCreate(args[0].c_str(), kSegmentBytes, 1));
    if (!server) {
        return 3;
    }
    const std::vector<uint8_t> frame = Pattern(kSegmentBytes, 7);
    if (QuorvexServerPublishFrame(server.get(), frame.data(), kSegmentBytes) < 0) {
        return 4;
    }
    platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, (args[0] + "Mutex").c_str()));
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, args[1].c_str()));
    if (!mutex || !ready || WaitForSingleObject(mutex.get(), kWaitMs) != WAIT_OBJECT_0) {
        return 5;
    }
    SetEvent(ready.get());
    Sleep(6 * kWaitMs);
    return 6;
}

const bool kSegmentHolderRegistered = testsupport::RegisterChildVerb("segment-holder", SegmentHolderChild);

// Signals `stop` after `delayMs` on a thread of its own, unless destroyed first.
class StopAfter {
public:
    StopAfter(HANDLE stop, DWORD delayMs) : cancel_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this, stop, delayMs] {
            if (WaitForSingleObject(cancel_.get(), delayMs) == WAIT_TIMEOUT) {
                SetEvent(stop);
            }
        });
    }
    ~StopAfter() {
        SetEvent(cancel_.get());
        thread_.join();
    }
    StopAfter(const StopAfter&) = delete;
    StopAfter& operator=(const StopAfter&) = delete;

private:
    platform::UniqueEvent cancel_;
    std::thread thread_;
};

TEST(CSharedMemoryTest, EmptyNameFails) {
    LogCapture log;
    CSharedMemory segment;
    EXPECT_FALSE(segment.Open(""));
    EXPECT_FALSE(segment.IsAttached());
    EXPECT_EQ(1, log->Count(kEmptyNameLine)) << log->Dump();
}

TEST(CSharedMemoryTest, MissingSegmentFailsWithFileNotFoundAndReleasesTheMutex) {
    LogCapture log;
    const std::string name = UniqueName("missing");
    CSharedMemory segment;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(segment.Open(name));
    EXPECT_FALSE(segment.IsAttached());
    EXPECT_EQ(1, log->Count(AccessLine(ERROR_FILE_NOT_FOUND))) << log->Dump();
    EXPECT_FALSE(MutexExists(name + "Mutex")) << "the failed open kept its mutex";
}

struct OtherKindRow {
    const char* name;
    bool event;  // an event holds the name rather than a mutex
};

void PrintTo(const OtherKindRow& row, std::ostream* out) {
    *out << row.name;
}

class NameOfOtherKindTest : public testing::TestWithParam<OtherKindRow> {};

TEST_P(NameOfOtherKindTest, IsReportedAsInUse) {
    LogCapture log;
    const std::string name = UniqueName("kind");
    platform::UniqueEvent eventHolder;
    platform::UniqueMutex mutexHolder;
    if (GetParam().event) {
        eventHolder.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    } else {
        mutexHolder.reset(CreateMutexA(nullptr, FALSE, name.c_str()));
    }
    ASSERT_TRUE(eventHolder || mutexHolder) << GetLastError();
    CSharedMemory segment;
    EXPECT_FALSE(segment.Open(name));
    EXPECT_FALSE(segment.IsAttached());
    EXPECT_EQ(1, log->Count(kInUseLine)) << log->Dump();
    EXPECT_FALSE(MutexExists(name + "Mutex"));
}

INSTANTIATE_TEST_SUITE_P(Holders, NameOfOtherKindTest,
                         testing::Values(OtherKindRow{"Mutex", false}, OtherKindRow{"Event", true}), RowName());

TEST(CSharedMemoryTest, MutexNameHeldByAnEventFailsBeforeTheMapping) {
    LogCapture log;
    const std::string name = UniqueName("mutexname");
    platform::UniqueEvent holder(CreateEventA(nullptr, TRUE, FALSE, (name + "Mutex").c_str()));
    ASSERT_TRUE(holder);
    CSharedMemory segment;
    EXPECT_FALSE(segment.Open(name));
    EXPECT_FALSE(segment.IsAttached());
    EXPECT_EQ(1, log->Count("CSharedMemory::CSharedMemory: ERROR: Could not allocate mutex object " + name + "Mutex\n"))
        << log->Dump();
    EXPECT_EQ(1u, log->Messages().size()) << log->Dump();
}

struct ReadSizeRow {
    const char* name;
    int count;
    ReadStatus status;
};

void PrintTo(const ReadSizeRow& row, std::ostream* out) {
    *out << row.name;
}

class ReadSizeTest : public testing::TestWithParam<ReadSizeRow> {};

TEST_P(ReadSizeTest, NeverReadsPastTheView) {
    LogCapture log;
    const std::string name = UniqueName("size");
    // A segment of exactly kSegmentBytes, as a plain server makes it (the
    // server library's has a stamp's room beyond the size it is given).
    platform::UniqueMapping mapping(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSegmentBytes, name.c_str()));
    ASSERT_TRUE(mapping);
    platform::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view);
    const std::vector<uint8_t> frame = Pattern(kSegmentBytes, 3);
    std::memcpy(view.get(), frame.data(), kSegmentBytes);

    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name)) << log->Dump();
    const int count = GetParam().count;
    std::vector<uint8_t> dest(static_cast<size_t>(count) + 16, kPoison);
    EXPECT_EQ(GetParam().status, segment.Read(dest.data(), count, nullptr));
    if (GetParam().status == ReadStatus::Copied) {
        EXPECT_EQ(0, std::memcmp(dest.data(), frame.data(), static_cast<size_t>(count)));
        EXPECT_TRUE(AllBytesAre(std::vector<uint8_t>(dest.begin() + count, dest.end()), kPoison));
        EXPECT_TRUE(log->Messages().empty()) << log->Dump();
    } else {
        EXPECT_TRUE(AllBytesAre(dest, kPoison)) << "a refused read wrote to the destination";
        EXPECT_EQ(1, log->Count(ShortLine(kSegmentBytes, count))) << log->Dump();
    }
    EXPECT_TRUE(segment.IsAttached());
}

INSTANTIATE_TEST_SUITE_P(Counts, ReadSizeTest,
                         testing::Values(ReadSizeRow{"One", 1, ReadStatus::Copied},
                                         ReadSizeRow{"OneShort", kSegmentBytes - 1, ReadStatus::Copied},
                                         ReadSizeRow{"Exact", kSegmentBytes, ReadStatus::Copied},
                                         ReadSizeRow{"OneOver", kSegmentBytes + 1, ReadStatus::SegmentTooShort},
                                         ReadSizeRow{"Twice", 2 * kSegmentBytes, ReadStatus::SegmentTooShort}),
                         RowName());

TEST(CSharedMemoryTest, ReadWhenNotAttachedIsRefused) {
    LogCapture log;
    CSharedMemory segment;
    std::vector<uint8_t> dest(16, kPoison);
    EXPECT_EQ(ReadStatus::SegmentTooShort, segment.Read(dest.data(), 16, nullptr));
    EXPECT_TRUE(AllBytesAre(dest, kPoison));
    EXPECT_EQ(1, log->Count(ShortLine(0, 16))) << log->Dump();
}

TEST(CSharedMemoryTest, CloseIsHarmlessAndOpenStartsAfresh) {
    LogCapture log;
    const std::string name = UniqueName("reopen");
    linktest::ServerPtr server = StartServer(name, kSegmentBytes, 1);
    ASSERT_NE(server, nullptr);
    CSharedMemory segment;
    segment.Close();
    ASSERT_TRUE(segment.Open(name));
    ASSERT_TRUE(segment.Open(name));
    EXPECT_TRUE(segment.IsAttached());
    segment.Close();
    segment.Close();
    EXPECT_FALSE(segment.IsAttached());

    // An attached segment is released before a failing open.
    ASSERT_TRUE(segment.Open(name));
    EXPECT_FALSE(segment.Open(name + "Other"));
    EXPECT_FALSE(segment.IsAttached());
    EXPECT_EQ(1, log->Count(AccessLine(ERROR_FILE_NOT_FOUND))) << log->Dump();
}

TEST(CSharedMemoryTest, MutexHeldForeverDoesNotHangTheReadOnceStopIsSignalled) {
    const std::string name = UniqueName("held");
    linktest::ServerPtr server = StartServer(name, kSegmentBytes, 1);
    ASSERT_NE(server, nullptr);
    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name));
    MutexHolder holder(name + "Mutex", MutexHolder::Mode::Hold);
    ASSERT_TRUE(holder.WaitHeld());

    platform::UniqueEvent stop(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    StopAfter stopper(stop.get(), 200);
    std::vector<uint8_t> dest(kSegmentBytes, kPoison);
    const DWORD start = Now();
    EXPECT_EQ(ReadStatus::Stopped, segment.Read(dest.data(), kSegmentBytes, stop.get()));
    const DWORD elapsed = Now() - start;
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, kWaitMs);
    EXPECT_TRUE(AllBytesAre(dest, kPoison));
}

TEST(CSharedMemoryTest, FreeMutexWinsOverASignalledStop) {
    const std::string name = UniqueName("both");
    linktest::ServerPtr server = StartServer(name, kSegmentBytes, 1);
    ASSERT_NE(server, nullptr);
    const std::vector<uint8_t> frame = Pattern(kSegmentBytes, 5);
    ASSERT_EQ(0, QuorvexServerPublishFrame(server.get(), frame.data(), kSegmentBytes));
    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name));
    platform::UniqueEvent stop(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    std::vector<uint8_t> dest(kSegmentBytes, kPoison);
    EXPECT_EQ(ReadStatus::Copied, segment.Read(dest.data(), kSegmentBytes, stop.get()));
    EXPECT_EQ(frame, dest);
    // The mutex was released after the copy: another thread can take it.
    MutexHolder holder(name + "Mutex", MutexHolder::Mode::Hold);
    EXPECT_TRUE(holder.WaitHeld());
}

TEST(CSharedMemoryTest, MutexAbandonedByAThreadIsTaken) {
    const std::string name = UniqueName("abandoned");
    linktest::ServerPtr server = StartServer(name, kSegmentBytes, 1);
    ASSERT_NE(server, nullptr);
    const std::vector<uint8_t> frame = Pattern(kSegmentBytes, 6);
    ASSERT_EQ(0, QuorvexServerPublishFrame(server.get(), frame.data(), kSegmentBytes));
    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name));
    MutexHolder holder(name + "Mutex", MutexHolder::Mode::Abandon);
    ASSERT_TRUE(holder.WaitHeld());

    // The stop only keeps a broken wait from hanging the test.
    platform::UniqueEvent stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    StopAfter stopper(stop.get(), kWaitMs);
    std::vector<uint8_t> dest(kSegmentBytes, kPoison);
    EXPECT_EQ(ReadStatus::Copied, segment.Read(dest.data(), kSegmentBytes, stop.get()));
    EXPECT_EQ(frame, dest);
}

TEST(CSharedMemoryTest, MutexAbandonedByAKilledServerProcessIsTaken) {
    ASSERT_TRUE(kSegmentHolderRegistered);
    const std::string name = UniqueName("killed");
    const std::string readyName = UniqueName("ready");
    platform::UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    testsupport::TempDir folder;
    platform::ChildProcess server;
    ASSERT_TRUE(
        server.Start(platform::ProgramPath(), {"--child=segment-holder", name, readyName}, folder.File("server.txt")));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 2 * kWaitMs))
        << "the server process did not come up: " << folder.Read("server.txt");

    CSharedMemory segment;
    ASSERT_TRUE(segment.Open(name));
    server.Kill();
    EXPECT_FALSE(server.IsRunning());

    platform::UniqueEvent stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    StopAfter stopper(stop.get(), kWaitMs);
    std::vector<uint8_t> dest(kSegmentBytes, kPoison);
    EXPECT_EQ(ReadStatus::Copied, segment.Read(dest.data(), kSegmentBytes, stop.get()));
    EXPECT_EQ(Pattern(kSegmentBytes, 7), dest);
}

}  // namespace
