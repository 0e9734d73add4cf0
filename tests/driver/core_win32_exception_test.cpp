// Win32Exception: the calling thread's error code at construction and the
// system's text for it.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "core_test_support.h"
#include "platform/win32.h"
#include "support/win32_exception.h"

namespace {

constexpr DWORD kPoisonError = 0xdeadbeef;
// In the range that Windows leaves to applications: the system has no text.
constexpr DWORD kCodeWithoutText = 0x20001234;
constexpr DWORD kFileNotFound = 2;

// The system's own text for a code, straight from FormatMessageA.
std::string SystemText(DWORD code) {
    char text[4096] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                   nullptr);
    return text;
}

Win32Exception ExceptionFor(DWORD code) {
    SetLastError(code);
    return Win32Exception();
}

TEST(Win32ExceptionTest, BrokenPipeGivesCodeAndSystemText) {
    SetLastError(ERROR_BROKEN_PIPE);
    const Win32Exception error;

    EXPECT_EQ(109u, error.ErrorCode);
    EXPECT_EQ(coretest::BrokenPipeText(), error.what());
}

TEST(Win32ExceptionTest, CodeWithoutSystemTextGivesEmptyText) {
    ASSERT_EQ("", SystemText(kCodeWithoutText));
    SetLastError(kCodeWithoutText);
    const Win32Exception error;

    EXPECT_EQ(kCodeWithoutText, error.ErrorCode);
    EXPECT_STREQ("", error.what());
}

TEST(Win32ExceptionTest, TextIsFormattedAgainOnEveryCall) {
    const Win32Exception error = ExceptionFor(ERROR_BROKEN_PIPE);
    SetLastError(kPoisonError);

    EXPECT_EQ(coretest::BrokenPipeText(), error.what());
    EXPECT_EQ(coretest::BrokenPipeText(), error.what());
    EXPECT_EQ(109u, error.ErrorCode);
}

TEST(Win32ExceptionTest, CaughtAsRuntimeErrorItStillGivesTheSystemText) {
    try {
        SetLastError(ERROR_BROKEN_PIPE);
        throw Win32Exception();
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(coretest::BrokenPipeText(), error.what());
        return;
    }
    ADD_FAILURE() << "not caught as std::runtime_error";
}

TEST(Win32ExceptionTest, CaughtAsExceptionItStillGivesTheSystemText) {
    try {
        SetLastError(kFileNotFound);
        throw Win32Exception();
    } catch (const std::exception& error) {
        EXPECT_EQ(SystemText(kFileNotFound), error.what());
        EXPECT_NE("", SystemText(kFileNotFound));
        return;
    }
    ADD_FAILURE() << "not caught as std::exception";
}

TEST(Win32ExceptionTest, CopyHasSameCodeAndText) {
    const Win32Exception original = ExceptionFor(ERROR_BROKEN_PIPE);
    SetLastError(kFileNotFound);

    const Win32Exception copy(original);

    EXPECT_EQ(109u, copy.ErrorCode);
    EXPECT_EQ(coretest::BrokenPipeText(), copy.what());
    EXPECT_EQ(coretest::BrokenPipeText(), original.what());
}

TEST(Win32ExceptionTest, CodeIsTheConstructingThreadsOwn) {
    // Both threads set their code, meet, and only then construct: a code
    // shared by the process would give both the same.
    const DWORD codes[2] = {ERROR_BROKEN_PIPE, kFileNotFound};
    DWORD taken[2] = {kPoisonError, kPoisonError};
    std::atomic<int> arrived{0};

    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([t, &codes, &taken, &arrived] {
            SetLastError(codes[t]);
            ++arrived;
            while (arrived.load() < 2) {
            }
            taken[t] = Win32Exception().ErrorCode;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(codes[0], taken[0]);
    EXPECT_EQ(codes[1], taken[1]);
}

TEST(Win32ExceptionTest, TwoThreadsFormattingAtOnceKeepTheirOwnText) {
    constexpr int kRounds = 300;
    const DWORD codes[2] = {ERROR_BROKEN_PIPE, kFileNotFound};
    const std::string expected[2] = {SystemText(codes[0]), SystemText(codes[1])};
    ASSERT_NE(expected[0], expected[1]);
    int mismatches[2] = {0, 0};

    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([t, &codes, &expected, &mismatches] {
            const Win32Exception error = ExceptionFor(codes[t]);
            for (int round = 0; round < kRounds; ++round) {
                if (expected[t] != error.what()) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(0, mismatches[0]);
    EXPECT_EQ(0, mismatches[1]);
}

}  // namespace
