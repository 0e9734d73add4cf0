#include <gtest/gtest.h>

#include <cstring>

#include "wire/messages.h"

namespace {

TEST(MessagesTest, HeaderIsTwelveLittleEndianBytes) {
    const MessageHeader header{HeaderMagic, Dimensions, -2};
    unsigned char bytes[kMessageSize];
    std::memcpy(bytes, &header, sizeof bytes);
    const unsigned char expected[kMessageSize] = {0x52, 0x44, 0x48, 0x53, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
}

TEST(MessagesTest, DimensionsBlockIsTwelveLittleEndianBytes) {
    const DimensionsBlock block{0x0280, 0x01E0, 3};
    unsigned char bytes[kMessageSize];
    std::memcpy(bytes, &block, sizeof bytes);
    const unsigned char expected[kMessageSize] = {0x80, 0x02, 0, 0, 0xE0, 0x01, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
}

TEST(MessagesTest, TypeCodes) {
    EXPECT_EQ(2, Dimensions);
    EXPECT_EQ(3, ImageReady);
    EXPECT_EQ(4, Stop);
    EXPECT_EQ(0x53484452u, HeaderMagic);
}

}  // namespace
