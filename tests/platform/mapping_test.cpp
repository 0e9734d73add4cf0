// File mappings on shared memory: names, views, sizes, and data shared
// between processes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel_objects_support.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "support/child_process.h"
#include "support/row_name.h"

namespace {

using kernel_objects::kPatience;
using kernel_objects::Signalled;
using kernel_objects::UniqueName;
using platform::UniqueEvent;
using platform::UniqueMapping;
using platform::UniqueMutex;
using platform::UniqueView;

constexpr DWORD kPoison = 0xdeadbeef;
constexpr SIZE_T kPage = 4096;

UniqueMapping MakeMapping(const char* name, DWORD size) {
    return UniqueMapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name));
}

UniqueMapping OpenMapping(const std::string& name) {
    return UniqueMapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, name.c_str()));
}

UniqueView MapWhole(const UniqueMapping& mapping) {
    return UniqueView(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

// A pattern that tells the bytes of one writer from another's.
void Fill(void* view, size_t size, unsigned char seed) {
    auto* bytes = static_cast<unsigned char*>(view);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    }
}

bool Holds(const void* view, size_t size, unsigned char seed) {
    const auto* bytes = static_cast<const unsigned char*>(view);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != static_cast<unsigned char>(seed + i * 7)) {
            return false;
        }
    }
    return true;
}

// --- Names ------------------------------------------------------------------

TEST(Mappings, OpeningAMissingMappingFailsWithFileNotFound) {
    SetLastError(kPoison);
    EXPECT_FALSE(OpenMapping(UniqueName("missing")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

struct ClashRow {
    std::string name;
    bool holderIsMutex;
    bool createMapping;
};

class MappingNameClashes : public testing::TestWithParam<ClashRow> {};

TEST_P(MappingNameClashes, ANameHeldByAMutexOrEventIsAnInvalidHandle) {
    const ClashRow& row = GetParam();
    const std::string name = UniqueName("clash");
    UniqueMutex mutexHolder;
    UniqueEvent eventHolder;
    if (row.holderIsMutex) {
        mutexHolder.reset(CreateMutexA(nullptr, FALSE, name.c_str()));
    } else {
        eventHolder.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    }
    ASSERT_TRUE(mutexHolder || eventHolder);
    SetLastError(kPoison);
    UniqueMapping mapping = row.createMapping ? MakeMapping(name.c_str(), 4096) : OpenMapping(name);
    EXPECT_FALSE(mapping);
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, MappingNameClashes,
                         testing::Values(ClashRow{"OpenOverMutex", true, false},
                                         ClashRow{"OpenOverEvent", false, false},
                                         ClashRow{"CreateOverMutex", true, true},
                                         ClashRow{"CreateOverEvent", false, true}),
                         RowName());

TEST(Mappings, AMappingsNameRefusesMutexesAndEvents) {
    const std::string name = UniqueName("mapping");
    UniqueMapping mapping = MakeMapping(name.c_str(), 4096);
    ASSERT_TRUE(mapping);
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name.c_str()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(Mappings, CreatingAnExistingMappingOpensItWithItsOwnSize) {
    const std::string name = UniqueName("mapping");
    SetLastError(kPoison);
    UniqueMapping first = MakeMapping(name.c_str(), 10000);
    ASSERT_TRUE(first);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    UniqueView firstView = MapWhole(first);
    ASSERT_TRUE(firstView);
    Fill(firstView.get(), 10000, 3);

    SetLastError(kPoison);
    UniqueMapping second = MakeMapping(name.c_str(), 50000);
    ASSERT_TRUE(second);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    UniqueView secondView = MapWhole(second);
    ASSERT_TRUE(secondView);
    EXPECT_TRUE(Holds(secondView.get(), 10000, 3));
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_EQ(sizeof info, VirtualQuery(secondView.get(), &info, sizeof info));
    EXPECT_EQ(3 * kPage, info.RegionSize);
}

TEST(Mappings, TheNameGoesWithTheLastHandleWhileViewsKeepTheBytes) {
    const std::string name = UniqueName("mapping");
    UniqueMapping mapping = MakeMapping(name.c_str(), 4096);
    ASSERT_TRUE(mapping);
    UniqueMapping second = OpenMapping(name);
    ASSERT_TRUE(second);
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);
    Fill(view.get(), 4096, 9);

    // Another handle keeps the name.
    mapping.reset();
    EXPECT_TRUE(OpenMapping(name));
    second.reset();
    SetLastError(kPoison);
    EXPECT_FALSE(OpenMapping(name));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(Holds(view.get(), 4096, 9));

    // The name is free for a new mapping, which starts empty.
    SetLastError(kPoison);
    UniqueMapping fresh = MakeMapping(name.c_str(), 4096);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    UniqueView freshView = MapWhole(fresh);
    ASSERT_TRUE(freshView);
    EXPECT_EQ(0, static_cast<const unsigned char*>(freshView.get())[0]);
    EXPECT_TRUE(Holds(view.get(), 4096, 9));
}

// --- Creation and views -----------------------------------------------------

TEST(Mappings, BadCreationsFail) {
    SetLastError(kPoison);
    EXPECT_EQ(nullptr,
              CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, UniqueName("empty").c_str()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, 0x12345, 0, 4096, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CreateFileMappingA(reinterpret_cast<HANDLE>(0x1234), nullptr, PAGE_READWRITE, 0, 4096, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(Mappings, ViewsOfOneUnnamedMappingShareTheirBytes) {
    SetLastError(kPoison);
    UniqueMapping mapping = MakeMapping(nullptr, 8192);
    ASSERT_TRUE(mapping);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    UniqueView first = MapWhole(mapping);
    UniqueView second = MapWhole(mapping);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    Fill(first.get(), 8192, 5);
    EXPECT_TRUE(Holds(second.get(), 8192, 5));
}

struct ViewErrorRow {
    std::string name;
    DWORD offset;
    SIZE_T bytes;
    DWORD error;
};

class BadViews : public testing::TestWithParam<ViewErrorRow> {};

TEST_P(BadViews, FailWithTheDocumentedError) {
    const ViewErrorRow& row = GetParam();
    UniqueMapping mapping = MakeMapping(nullptr, 0x20000);
    ASSERT_TRUE(mapping);
    SetLastError(kPoison);
    UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, row.offset, row.bytes));
    EXPECT_FALSE(view);
    EXPECT_EQ(row.error, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, BadViews,
                         testing::Values(ViewErrorRow{"OffsetOffTheGranularity", 4096, 0, ERROR_MAPPED_ALIGNMENT},
                                         ViewErrorRow{"LongerThanTheMapping", 0, 0x20001, ERROR_ACCESS_DENIED},
                                         ViewErrorRow{"PastTheEndFromAnOffset", 0x10000, 0x10001, ERROR_ACCESS_DENIED}),
                         RowName());

TEST(Mappings, AViewAtAnOffsetSeesTheBytesFromThere) {
    UniqueMapping mapping = MakeMapping(nullptr, 0x20000);
    ASSERT_TRUE(mapping);
    UniqueView whole = MapWhole(mapping);
    ASSERT_TRUE(whole);
    Fill(static_cast<char*>(whole.get()) + 0x10000, 0x10000, 11);
    UniqueView tail(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0x10000, 0));
    ASSERT_TRUE(tail);
    EXPECT_TRUE(Holds(tail.get(), 0x10000, 11));
}

TEST(Mappings, MappingABadHandleFails) {
    UniqueEvent event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, MapViewOfFile(event.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(Mappings, AnyAddressInsideAViewUnmapsItOnce) {
    UniqueMapping mapping = MakeMapping(nullptr, 3 * kPage);
    ASSERT_TRUE(mapping);
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(nullptr, view);
    EXPECT_TRUE(UnmapViewOfFile(static_cast<char*>(view) + kPage + 5));
    SetLastError(kPoison);
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, GetLastError());
    int local = 0;
    SetLastError(kPoison);
    EXPECT_FALSE(UnmapViewOfFile(&local));
    EXPECT_EQ(ERROR_INVALID_ADDRESS, GetLastError());
}

TEST(Mappings, WaitingOnAMappingIsRefused) {
    UniqueMapping mapping = MakeMapping(nullptr, 4096);
    ASSERT_TRUE(mapping);
    SetLastError(kPoison);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(mapping.get(), 0));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

// --- VirtualQuery -----------------------------------------------------------

struct SizeRow {
    std::string name;
    DWORD size;
    SIZE_T region;
};

class ViewSizes : public testing::TestWithParam<SizeRow> {};

TEST_P(ViewSizes, VirtualQueryRoundsAViewUpToWholePages) {
    const SizeRow& row = GetParam();
    UniqueMapping mapping = MakeMapping(UniqueName("size").c_str(), row.size);
    ASSERT_TRUE(mapping);
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);

    MEMORY_BASIC_INFORMATION info;
    std::memset(&info, 0xcc, sizeof info);
    ASSERT_EQ(sizeof info, VirtualQuery(view.get(), &info, sizeof info));
    EXPECT_EQ(view.get(), info.BaseAddress);
    EXPECT_EQ(view.get(), info.AllocationBase);
    EXPECT_EQ(row.region, info.RegionSize);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), info.Type);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.Protect);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.AllocationProtect);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewSizes,
                         testing::Values(SizeRow{"OneByte", 1, kPage}, SizeRow{"OnePage", 4096, kPage},
                                         SizeRow{"OnePageAndAByte", 4097, 2 * kPage},
                                         SizeRow{"TenThousand", 10000, 3 * kPage}),
                         RowName());

TEST(Mappings, VirtualQueryInsideAViewDescribesTheRestOfIt) {
    UniqueMapping mapping = MakeMapping(nullptr, 10000);
    ASSERT_TRUE(mapping);
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);
    MEMORY_BASIC_INFORMATION info{};
    const char* inside = static_cast<const char*>(view.get()) + 5000;
    ASSERT_EQ(sizeof info, VirtualQuery(inside, &info, sizeof info));
    EXPECT_EQ(static_cast<const char*>(view.get()) + kPage, info.BaseAddress);
    EXPECT_EQ(view.get(), info.AllocationBase);
    EXPECT_EQ(2 * kPage, info.RegionSize);
}

TEST(Mappings, VirtualQueryWantsRoomForTheWholeRecord) {
    UniqueMapping mapping = MakeMapping(nullptr, 4096);
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);
    MEMORY_BASIC_INFORMATION info{};
    SetLastError(kPoison);
    EXPECT_EQ(0u, VirtualQuery(view.get(), &info, sizeof info - 1));
    EXPECT_EQ(ERROR_BAD_LENGTH, GetLastError());
}

// --- Across processes -------------------------------------------------------

// Opens the mapping, checks the parent's pattern and writes its own over it
// (args: mapping, size, parent's seed, own seed).
const bool kMappingVerb = testsupport::RegisterChildVerb("answer-mapping", [](const std::vector<std::string>& args) {
    if (args.size() != 4) {
        return 2;
    }
    const size_t size = std::stoul(args[1]);
    UniqueMapping mapping = OpenMapping(args[0]);
    UniqueView view = mapping ? MapWhole(mapping) : UniqueView();
    if (!view) {
        return 3;
    }
    if (!Holds(view.get(), size, static_cast<unsigned char>(std::stoul(args[2])))) {
        return 4;
    }
    Fill(view.get(), size, static_cast<unsigned char>(std::stoul(args[3])));
    return 0;
});

TEST(MappingsAcrossProcesses, BothProcessesSeeEachOthersBytes) {
    const std::string name = UniqueName("mapping");
    constexpr DWORD kSize = 100000;
    UniqueMapping mapping = MakeMapping(name.c_str(), kSize);
    ASSERT_TRUE(mapping);
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);
    Fill(view.get(), kSize, 21);

    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("answer-mapping", {name, std::to_string(kSize), "21", "77"}));
    ASSERT_EQ(0, child.ExitCode());
    EXPECT_TRUE(Holds(view.get(), kSize, 77));
}

// Creates the mapping, fills it, tells the parent and waits to be killed
// (args: mapping, ready event).
const bool kCreateMappingAndHangVerb =
    testsupport::RegisterChildVerb("create-mapping-and-hang", [](const std::vector<std::string>& args) {
        if (args.size() != 2) {
            return 2;
        }
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, args[0].c_str());
        void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
        if (view == nullptr) {
            return 3;
        }
        Fill(view, 4096, 1);
        if (!kernel_objects::SignalParent(args[1])) {
            return 4;
        }
        Sleep(kPatience);
        return 5;
    });

TEST(MappingsAcrossProcesses, ANameLeftByAKilledProcessIsTakenAfresh) {
    const std::string name = UniqueName("mapping");
    const std::string readyName = UniqueName("ready");
    UniqueEvent ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    kernel_objects::Child child;
    ASSERT_TRUE(child.Start("create-mapping-and-hang", {name, readyName}));
    ASSERT_TRUE(Signalled(ready.get()));
    child.Kill();

    SetLastError(kPoison);
    UniqueMapping mapping = MakeMapping(name.c_str(), 4096);
    ASSERT_TRUE(mapping);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    UniqueView view = MapWhole(mapping);
    ASSERT_TRUE(view);
    const std::vector<char> zeros(4096, 0);
    EXPECT_EQ(0, std::memcmp(view.get(), zeros.data(), zeros.size()));
}

}  // namespace
