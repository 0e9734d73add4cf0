// ImageBuffer: allocation, refused sizes, row addresses and row copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/image_buffer.h"
#include "core_test_support.h"

namespace {

using coretest::Captured;

constexpr uint8_t kPoisonByte = 0xA5;
const char kIncorrectSize[] = "ImageBuffer::Allocate: ERROR: incorrect size";
const char kUnallocatedLine[] = "ImageBuffer::GetLine: ERROR: cannot proceed since it finds unallocated buffer\n";

class ImageBufferTest : public coretest::CoreTest {
protected:
    // Fills the block with a pattern that differs from row to row.
    void FillPattern() {
        for (int32_t i = 0; i < buffer.Size(); ++i) {
            buffer.Data()[i] = static_cast<uint8_t>(i * 7 + i / 251);
        }
    }

    ImageBuffer buffer;
};

TEST_F(ImageBufferTest, NewBufferIsEmpty) {
    EXPECT_EQ(0, buffer.Size());
    EXPECT_EQ(nullptr, buffer.Data());
    EXPECT_EQ(0, buffer.Width());
    EXPECT_EQ(0, buffer.Height());
    EXPECT_EQ(0, buffer.BytesPerPixel());
}

TEST_F(ImageBufferTest, RowOfAnEmptyBufferIsRefused) {
    EXPECT_EQ(nullptr, buffer.GetLine(0));

    EXPECT_EQ(std::vector<std::string>{kUnallocatedLine}, Captured().Messages());
}

TEST_F(ImageBufferTest, VgaOneBytePerPixelHasRowsZeroTo479) {
    buffer.Allocate(640, 480, 1);

    ASSERT_NE(nullptr, buffer.Data());
    EXPECT_EQ(640 * 480, buffer.Size());
    EXPECT_EQ(640, buffer.Width());
    EXPECT_EQ(480, buffer.Height());
    EXPECT_EQ(1, buffer.BytesPerPixel());
    EXPECT_EQ(buffer.Data(), buffer.GetLine(0));
    EXPECT_EQ(buffer.Data() + 479 * 640, buffer.GetLine(479));
    EXPECT_TRUE(Captured().Calls().empty());
}

struct OutOfRangeCase {
    const char* name;
    int32_t row;
};

const OutOfRangeCase kOutOfRange[] = {
    {"OneBeyondTheLast", 480},
    {"MinusOne", -1},
    {"FarBeyond", 1 << 30},
    {"MostNegative", INT32_MIN},
};

class ImageBufferRowRangeTest : public ImageBufferTest, public testing::WithParamInterface<OutOfRangeCase> {};

TEST_P(ImageBufferRowRangeTest, RowOutsideTheFrameIsRefused) {
    buffer.Allocate(640, 480, 1);

    EXPECT_EQ(nullptr, buffer.GetLine(GetParam().row));

    EXPECT_EQ(std::vector<std::string>{"ImageBuffer::GetLine: ERROR: line index out of range: " +
                                       std::to_string(GetParam().row) + "\n"},
              Captured().Messages());
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageBufferRowRangeTest, testing::ValuesIn(kOutOfRange), RowName());

class ImageBufferBytesPerPixelTest : public ImageBufferTest, public testing::WithParamInterface<int32_t> {};

TEST_P(ImageBufferBytesPerPixelTest, RowsFollowEachOtherAtTheStride) {
    const int32_t bytesPerPixel = GetParam();
    buffer.Allocate(33, 17, bytesPerPixel);

    EXPECT_EQ(33 * 17 * bytesPerPixel, buffer.Size());
    for (int32_t row = 0; row < 17; ++row) {
        EXPECT_EQ(buffer.Data() + row * 33 * bytesPerPixel, buffer.GetLine(row)) << "row " << row;
    }
    EXPECT_EQ(nullptr, buffer.GetLine(17));
}

INSTANTIATE_TEST_SUITE_P(BytesPerPixel, ImageBufferBytesPerPixelTest, testing::Values(1, 3, 4));

// ---- Refused sizes ----

struct SizeCase {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t bytesPerPixel;
    // The byte count as the log shows it: wrapped to 32 bits.
    int32_t logged;
};

const SizeCase kRefusedSizes[] = {
    {"ZeroWidth", 0, 480, 1, 0},
    {"ZeroHeight", 640, 0, 1, 0},
    {"ZeroBytesPerPixel", 640, 480, 0, 0},
    {"NegativeHeight", 640, -480, 1, -307200},
    {"NegativeBytesPerPixel", 640, 480, -3, -921600},
    {"ExactlyTwoToThe31", 65536, 32768, 1, INT32_MIN},
    {"JustAboveInt32Max", 46341, 46341, 1, -2147479015},
    {"TwoToThe32WrapsToZero", 65536, 65536, 1, 0},
    {"WrapsToASmallPositiveCount", 65537, 65536, 1, 65536},
    {"LargestOfAllThree", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
    // 2^64 + 4: a product taken modulo 2^64 would be a positive 4.
    {"BeyondSixtyFourBits", 769546, 48448661, 494770, 4},
};

class ImageBufferRefusedSizeTest : public ImageBufferTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(ImageBufferRefusedSizeTest, ThrowsLogsAndKeepsTheEarlierBlock) {
    const SizeCase& row = GetParam();
    buffer.Allocate(64, 48, 3);
    FillPattern();
    uint8_t* const block = buffer.Data();
    const std::vector<uint8_t> contents(block, block + buffer.Size());
    Captured().Clear();

    try {
        buffer.Allocate(row.width, row.height, row.bytesPerPixel);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(kIncorrectSize, error.what());
    }

    EXPECT_EQ(
        std::vector<std::string>{"ImageBuffer::Allocate: ERROR: incorrect size " + std::to_string(row.logged) + "\n"},
        Captured().Messages());
    EXPECT_EQ(block, buffer.Data());
    EXPECT_EQ(64 * 48 * 3, buffer.Size());
    EXPECT_EQ(64, buffer.Width());
    EXPECT_EQ(48, buffer.Height());
    EXPECT_EQ(3, buffer.BytesPerPixel());
    EXPECT_EQ(contents, std::vector<uint8_t>(block, block + buffer.Size()));
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageBufferRefusedSizeTest, testing::ValuesIn(kRefusedSizes), RowName());

TEST_F(ImageBufferTest, RefusedSizeOnAnEmptyBufferLeavesItEmpty) {
    EXPECT_THROW(buffer.Allocate(0, 480, 1), std::runtime_error);

    EXPECT_EQ(nullptr, buffer.Data());
    EXPECT_EQ(0, buffer.Size());
}

// ---- Reallocation ----

TEST_F(ImageBufferTest, SameByteCountInAnotherShapeKeepsBlockAndChangesStride) {
    buffer.Allocate(640, 480, 1);
    FillPattern();
    uint8_t* const block = buffer.Data();
    const std::vector<uint8_t> contents(block, block + buffer.Size());

    buffer.Allocate(480, 640, 1);

    EXPECT_EQ(block, buffer.Data());
    EXPECT_EQ(640 * 480, buffer.Size());
    EXPECT_EQ(contents, std::vector<uint8_t>(block, block + buffer.Size()));
    EXPECT_EQ(480, buffer.Width());
    EXPECT_EQ(640, buffer.Height());
    EXPECT_EQ(block + 480, buffer.GetLine(1));
    EXPECT_EQ(block + 639 * 480, buffer.GetLine(639));
    EXPECT_EQ(nullptr, buffer.GetLine(640));
}

TEST_F(ImageBufferTest, SameByteCountWithOtherBytesPerPixelKeepsBlock) {
    buffer.Allocate(300, 200, 4);
    uint8_t* const block = buffer.Data();

    buffer.Allocate(400, 200, 3);

    EXPECT_EQ(block, buffer.Data());
    EXPECT_EQ(3, buffer.BytesPerPixel());
    EXPECT_EQ(block + 1200, buffer.GetLine(1));
}

struct ResizeCase {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t bytesPerPixel;
};

const ResizeCase kResizes[] = {
    {"Larger", 1280, 960, 1},
    {"Smaller", 320, 240, 1},
    {"MoreBytesPerPixel", 640, 480, 4},
};

class ImageBufferResizeTest : public ImageBufferTest, public testing::WithParamInterface<ResizeCase> {};

TEST_P(ImageBufferResizeTest, OtherByteCountGivesABlockOfExactlyThatSize) {
    const ResizeCase& row = GetParam();
    buffer.Allocate(640, 480, 1);

    buffer.Allocate(row.width, row.height, row.bytesPerPixel);

    const int32_t size = row.width * row.height * row.bytesPerPixel;
    ASSERT_EQ(size, buffer.Size());
    ASSERT_NE(nullptr, buffer.Data());
    // The whole block is usable; ASan reports a block shorter than `size`.
    std::memset(buffer.Data(), 1, static_cast<size_t>(size));
    EXPECT_EQ(buffer.Data() + (row.height - 1) * row.width * row.bytesPerPixel, buffer.GetLine(row.height - 1));
    EXPECT_EQ(nullptr, buffer.GetLine(row.height));
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageBufferResizeTest, testing::ValuesIn(kResizes), RowName());

// ---- Row copies ----

class ImageBufferCopyTest : public ImageBufferTest {
protected:
    void SetUp() override {
        ImageBufferTest::SetUp();
        buffer.Allocate(kWidth, kHeight, kBytesPerPixel);
        FillPattern();
        Captured().Clear();
    }

    static constexpr int32_t kWidth = 20;
    static constexpr int32_t kHeight = 10;
    static constexpr int32_t kBytesPerPixel = 3;
    static constexpr int32_t kStride = kWidth * kBytesPerPixel;
    static constexpr int32_t kSize = kStride * kHeight;
};

struct CopyCase {
    const char* name;
    int32_t row;
    int64_t byteCount;
};

const CopyCase kCopies[] = {
    {"OneWholeRow", 4, 60},
    {"TenPixelsFromTheRowStart", 4, 30},
    {"OneByte", 0, 1},
    {"LastRowToTheEnd", 9, 60},
    {"FirstRowToTheEndOfTheBuffer", 0, 600},
    {"MiddleRowToTheEndOfTheBuffer", 5, 300},
    // An empty span (last = first - 1) copies nothing and succeeds.
    {"ZeroBytes", 2, 0},
};

class ImageBufferCopyRowTest : public ImageBufferCopyTest, public testing::WithParamInterface<CopyCase> {};

TEST_P(ImageBufferCopyRowTest, CopiesFromTheRowStart) {
    const CopyCase& row = GetParam();
    std::vector<uint8_t> dest(kSize + 8, kPoisonByte);

    EXPECT_TRUE(buffer.CopyRow(row.row, dest.data(), row.byteCount));

    const uint8_t* const source = buffer.Data() + row.row * kStride;
    const size_t count = static_cast<size_t>(row.byteCount);
    EXPECT_EQ(std::vector<uint8_t>(source, source + count), std::vector<uint8_t>(dest.begin(), dest.begin() + count));
    EXPECT_EQ(std::vector<uint8_t>(dest.size() - count, kPoisonByte),
              std::vector<uint8_t>(dest.begin() + static_cast<std::ptrdiff_t>(count), dest.end()));
    EXPECT_TRUE(Captured().Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageBufferCopyRowTest, testing::ValuesIn(kCopies), RowName());

struct RefusedCopyCase {
    const char* name;
    int32_t row;
    int64_t byteCount;
    bool nullDest;
    // Bytes from the row start to the end of the buffer.
    int64_t remaining;
};

const RefusedCopyCase kRefusedCopies[] = {
    {"NullDestination", 0, 60, true, 600},
    {"NegativeCount", 2, -1, false, 480},
    {"MostNegativeCount", 2, INT64_MIN, false, 480},
    {"LastRowOneBytePastTheEnd", 9, 61, false, 60},
    {"FirstRowOneBytePastTheEnd", 0, 601, false, 600},
    {"CountBeyond32Bits", 1, int64_t{1} << 40, false, 540},
    {"CountThatWrapsTo32BitsSmall", 1, (int64_t{1} << 32) + 10, false, 540},
};

class ImageBufferRefusedCopyTest : public ImageBufferCopyTest, public testing::WithParamInterface<RefusedCopyCase> {};

TEST_P(ImageBufferRefusedCopyTest, RefusesWithOneLineAndWritesNothing) {
    const RefusedCopyCase& row = GetParam();
    std::vector<uint8_t> dest(kSize + 8, kPoisonByte);

    EXPECT_FALSE(buffer.CopyRow(row.row, row.nullDest ? nullptr : dest.data(), row.byteCount));

    EXPECT_EQ(std::vector<uint8_t>(dest.size(), kPoisonByte), dest);
    const std::vector<std::string> messages = Captured().Messages();
    ASSERT_EQ(1u, messages.size());
    const std::string expectedStart = "ImageBuffer::CopyRow: ERROR: refused to copy " + std::to_string(row.byteCount) +
                                      " bytes from row " + std::to_string(row.row) + " (" +
                                      std::to_string(row.remaining) + " bytes left, dest=";
    EXPECT_EQ(expectedStart, messages[0].substr(0, expectedStart.size()));
    EXPECT_EQ(")\n", messages[0].substr(messages[0].size() - 2));
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageBufferRefusedCopyTest, testing::ValuesIn(kRefusedCopies), RowName());

TEST_F(ImageBufferCopyTest, RowOutsideTheFrameIsRefusedByGetLineAlone) {
    std::vector<uint8_t> dest(kStride, kPoisonByte);

    EXPECT_FALSE(buffer.CopyRow(kHeight, dest.data(), kStride));

    EXPECT_EQ(std::vector<std::string>{"ImageBuffer::GetLine: ERROR: line index out of range: 10\n"},
              Captured().Messages());
    EXPECT_EQ(std::vector<uint8_t>(kStride, kPoisonByte), dest);
}

TEST_F(ImageBufferTest, CopyFromAnEmptyBufferIsRefusedByGetLineAlone) {
    uint8_t dest[4] = {kPoisonByte, kPoisonByte, kPoisonByte, kPoisonByte};

    EXPECT_FALSE(buffer.CopyRow(0, dest, 4));

    EXPECT_EQ(std::vector<std::string>{kUnallocatedLine}, Captured().Messages());
    EXPECT_EQ(kPoisonByte, dest[0]);
}

}  // namespace
