#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "raw_input.h"
#include "support/temp_dir.h"

namespace {

using Outcome = tools::RawRead::Outcome;

class RawInput : public testing::Test {
protected:
    // A stream over a file that holds `bytes`.
    std::FILE* Open(const std::string& bytes) {
        dir.Write("input.raw", bytes);
        stream = std::fopen(dir.File("input.raw").c_str(), "rb");
        return stream;
    }
    void TearDown() override {
        if (stream != nullptr) {
            std::fclose(stream);
        }
    }

    testsupport::TempDir dir;
    std::FILE* stream = nullptr;
};

TEST_F(RawInput, FramesComeWholeThenTheEnd) {
    // Bytes that a text-mode stream would change: CR LF and Ctrl+Z.
    const std::string bytes = std::string("ab\r\ncd\x1a") + std::string("\0\n\r", 3);
    ASSERT_NE(nullptr, Open(bytes));
    std::vector<uint8_t> frame(5, 0xEE);
    tools::RawRead read = tools::ReadRawFrame(stream, frame.data(), frame.size());
    EXPECT_EQ(Outcome::Frame, read.outcome);
    EXPECT_EQ(bytes.substr(0, 5), std::string(frame.begin(), frame.end()));
    read = tools::ReadRawFrame(stream, frame.data(), frame.size());
    EXPECT_EQ(Outcome::Frame, read.outcome);
    EXPECT_EQ(bytes.substr(5, 5), std::string(frame.begin(), frame.end()));
    read = tools::ReadRawFrame(stream, frame.data(), frame.size());
    EXPECT_EQ(Outcome::End, read.outcome);
    EXPECT_EQ(0u, read.bytes);
}

TEST_F(RawInput, AShortLastFrameSaysHowMuchCame) {
    ASSERT_NE(nullptr, Open(std::string(4 + 3, 'x')));
    std::vector<uint8_t> frame(4);
    EXPECT_EQ(Outcome::Frame, tools::ReadRawFrame(stream, frame.data(), frame.size()).outcome);
    const tools::RawRead read = tools::ReadRawFrame(stream, frame.data(), frame.size());
    EXPECT_EQ(Outcome::Short, read.outcome);
    EXPECT_EQ(3u, read.bytes);
}

TEST_F(RawInput, AStreamThatCannotBeReadIsAnError) {
    stream = std::fopen(dir.File("output.raw").c_str(), "wb");
    ASSERT_NE(nullptr, stream);
    std::vector<uint8_t> frame(4);
    const tools::RawRead read = tools::ReadRawFrame(stream, frame.data(), frame.size());
    EXPECT_EQ(Outcome::Error, read.outcome);
    EXPECT_FALSE(read.error.empty());
}

}  // namespace
