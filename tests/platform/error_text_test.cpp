// FormatMessageA with system texts, against literal texts: a case fails when
// either the subset or the reference words a message differently.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"
#include "support/row_name.h"

namespace {

constexpr DWORD kPoisonError = 0xdeadbeef;
constexpr char kPoison = 'X';
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kLangEnglishUs = 0x0409;

struct TextCase {
    const char* name;
    DWORD code;
    const char* text;
};

const TextCase kTexts[] = {
    {"Success", 0, "Success.\r\n"},
    {"InvalidFunction", 1, "Invalid function.\r\n"},
    {"FileNotFound", 2, "File not found.\r\n"},
    {"PathNotFound", 3, "Path not found.\r\n"},
    {"TooManyOpenFiles", 4, "Too many open files.\r\n"},
    {"AccessDenied", 5, "Access denied.\r\n"},
    {"InvalidHandle", 6, "Invalid handle.\r\n"},
    {"NotEnoughMemory", 8, "Not enough memory.\r\n"},
    {"OutOfMemory", 14, "Out of memory.\r\n"},
    {"GeneralFailure", 31, "General failure.\r\n"},
    {"SharingViolation", 32, "Sharing violation.\r\n"},
    {"HandleEof", 38, "End of file.\r\n"},
    {"NotSupported", 50, "Request not supported.\r\n"},
    {"FileExists", 80, "File exists.\r\n"},
    {"InvalidParameter", 87, "Invalid parameter.\r\n"},
    {"BrokenPipe", 109, "Broken pipe.\r\n"},
    {"DiskFull", 112, "Disk full.\r\n"},
    {"SemaphoreTimeout", 121, "Semaphore timeout.\r\n"},
    {"InsufficientBuffer", 122, "Insufficient buffer.\r\n"},
    {"InvalidName", 123, "Invalid name.\r\n"},
    {"ModuleNotFound", 126, "Module not found.\r\n"},
    {"ProcedureNotFound", 127, "Procedure not found.\r\n"},
    {"AlreadyExists", 183, "File already exists.\r\n"},
    {"FileNameTooLong", 206, "File name is too long.\r\n"},
    {"BadPipe", 230, "Bad pipe.\r\n"},
    {"PipeBusy", 231, "Pipe busy.\r\n"},
    {"NoData", 232, "Pipe closed.\r\n"},
    {"PipeNotConnected", 233, "Pipe not connected.\r\n"},
    {"MoreData", 234, "More data available.\r\n"},
    {"NotOwner", 288, "Mutex not owned by caller.\r\n"},
    {"PipeConnected", 535, "Pipe connected.\r\n"},
    {"PipeListening", 536, "Pipe listening.\r\n"},
    {"OperationAborted", 995, "I/O operation aborted.\r\n"},
    {"IoIncomplete", 996, "Overlapped I/O incomplete.\r\n"},
    {"IoPending", 997, "Overlapped I/O pending.\r\n"},
    {"Timeout", 1460, "Timeout.\r\n"},
};

// Codes whose texts carry inserts ("%1"), which only
// FORMAT_MESSAGE_IGNORE_INSERTS lets through as they stand.
const TextCase kTextsWithInserts[] = {
    {"MessageNotFound", 317, "Message 0x%1 not found in file %2.\r\n"},
    {"BadExeFormat", 193, "Bad EXE format for %1.\r\n"},
};

struct Outcome {
    DWORD result;
    DWORD error;
    std::string buffer;  // the whole buffer, poison included
};

Outcome Format(DWORD flags, DWORD code, DWORD languageId, DWORD size) {
    std::string buffer(kBufferSize, kPoison);
    SetLastError(kPoisonError);
    const DWORD result = FormatMessageA(flags, nullptr, code, languageId, &buffer[0], size, nullptr);
    return {result, GetLastError(), buffer};
}

testing::AssertionResult StoredExactly(const Outcome& outcome, const std::string& text) {
    if (outcome.result != text.size()) {
        return testing::AssertionFailure() << "returned " << outcome.result << " for a text of " << text.size()
                                           << " characters (last error " << outcome.error << ")";
    }
    if (outcome.buffer.compare(0, text.size() + 1, text + '\0') != 0) {
        return testing::AssertionFailure() << "stored \"" << outcome.buffer.substr(0, text.size()) << "\"";
    }
    if (outcome.buffer.find_first_not_of(kPoison, text.size() + 1) != std::string::npos) {
        return testing::AssertionFailure() << "wrote past the terminator";
    }
    if (outcome.error != kPoisonError) {
        return testing::AssertionFailure() << "changed the last error to " << outcome.error;
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult FailedUntouched(const Outcome& outcome, DWORD error) {
    if (outcome.result != 0 || outcome.error != error) {
        return testing::AssertionFailure() << "returned " << outcome.result << " with last error " << outcome.error
                                           << ", expected 0 with " << error;
    }
    if (outcome.buffer.find_first_not_of(kPoison) != std::string::npos) {
        return testing::AssertionFailure() << "wrote into the buffer";
    }
    return testing::AssertionSuccess();
}

class SystemText : public testing::TestWithParam<TextCase> {};

TEST_P(SystemText, IsStoredWithLineEnd) {
    EXPECT_TRUE(StoredExactly(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, 0, kBufferSize), GetParam().text));
}

TEST_P(SystemText, IgnoringInsertsChangesNothing) {
    EXPECT_TRUE(StoredExactly(
        Format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, GetParam().code, 0, kBufferSize),
        GetParam().text));
}

TEST_P(SystemText, EnglishAsAskedForIsTheSame) {
    EXPECT_TRUE(StoredExactly(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, kLangEnglishUs, kBufferSize),
                              GetParam().text));
}

TEST_P(SystemText, FitsExactlyWithTerminator) {
    const DWORD exact = static_cast<DWORD>(std::strlen(GetParam().text) + 1);
    EXPECT_TRUE(StoredExactly(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, 0, exact), GetParam().text));
}

TEST_P(SystemText, OneShortFailsWithoutWriting) {
    const DWORD oneShort = static_cast<DWORD>(std::strlen(GetParam().text));
    EXPECT_TRUE(
        FailedUntouched(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, 0, oneShort), ERROR_INSUFFICIENT_BUFFER));
}

INSTANTIATE_TEST_SUITE_P(Codes, SystemText, testing::ValuesIn(kTexts), RowName());

class SystemTextWithInserts : public testing::TestWithParam<TextCase> {};

TEST_P(SystemTextWithInserts, IsStoredAsItStandsWhenInsertsAreIgnored) {
    EXPECT_TRUE(StoredExactly(
        Format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, GetParam().code, 0, kBufferSize),
        GetParam().text));
}

TEST_P(SystemTextWithInserts, FailsWithoutArguments) {
    EXPECT_TRUE(
        FailedUntouched(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, 0, kBufferSize), ERROR_INVALID_PARAMETER));
}

INSTANTIATE_TEST_SUITE_P(Codes, SystemTextWithInserts, testing::ValuesIn(kTextsWithInserts), RowName());

struct UnknownCase {
    const char* name;
    DWORD code;
};

class UnknownCode : public testing::TestWithParam<UnknownCase> {};

TEST_P(UnknownCode, FailsWithMessageNotFound) {
    EXPECT_TRUE(
        FailedUntouched(Format(FORMAT_MESSAGE_FROM_SYSTEM, GetParam().code, 0, kBufferSize), ERROR_MR_MID_NOT_FOUND));
    EXPECT_TRUE(FailedUntouched(
        Format(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, GetParam().code, 0, kBufferSize),
        ERROR_MR_MID_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(Codes, UnknownCode,
                         testing::Values(UnknownCase{"Unassigned", 12345}, UnknownCase{"Poison", kPoisonError},
                                         UnknownCase{"HighBitSet", 0x80000000u}),
                         RowName());

TEST(FormatMessage, EmptyBufferIsTooSmall) {
    EXPECT_TRUE(
        FailedUntouched(Format(FORMAT_MESSAGE_FROM_SYSTEM, ERROR_FILE_NOT_FOUND, 0, 0), ERROR_INSUFFICIENT_BUFFER));
}

TEST(FormatMessage, WithoutASourceFails) {
    EXPECT_TRUE(FailedUntouched(Format(0, ERROR_FILE_NOT_FOUND, 0, kBufferSize), ERROR_INVALID_PARAMETER));
}

TEST(FormatMessage, UnknownLanguageFails) {
    EXPECT_TRUE(FailedUntouched(Format(FORMAT_MESSAGE_FROM_SYSTEM, ERROR_FILE_NOT_FOUND, 0x1234, kBufferSize),
                                ERROR_RESOURCE_LANG_NOT_FOUND));
}

}  // namespace
