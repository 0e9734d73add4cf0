// Private-profile reading and writing. Files are compared byte for byte, so a
// case fails when the subset lays out a file differently from Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "known_differences.h"
#include "platform/win32.h"
#include "support/row_name.h"
#include "support/temp_dir.h"

namespace {

constexpr DWORD kPoisonError = 0xdeadbeef;
constexpr char kPoison = 'X';
constexpr DWORD kBufferSize = 64;
constexpr char kFileName[] = "test.ini";

struct ReadResult {
    DWORD result;
    DWORD error;
    std::string buffer;  // the whole buffer, poison included
};

ReadResult ReadString(const char* section, const char* key, const char* defaultValue, DWORD size,
                      const std::string& fileName) {
    std::string buffer(kBufferSize, kPoison);
    SetLastError(kPoisonError);
    const DWORD result = GetPrivateProfileStringA(section, key, defaultValue, &buffer[0], size, fileName.c_str());
    return {result, GetLastError(), buffer};
}

// The text, its terminator, and nothing written after them.
testing::AssertionResult Copied(const ReadResult& read, const std::string& text) {
    if (read.result != text.size()) {
        return testing::AssertionFailure() << "returned " << read.result << ", expected " << text.size();
    }
    if (read.buffer.compare(0, text.size() + 1, text + '\0') != 0) {
        return testing::AssertionFailure() << "copied \"" << read.buffer.substr(0, read.buffer.find('\0')) << "\"";
    }
    if (read.buffer.find_first_not_of(kPoison, text.size() + 1) != std::string::npos) {
        return testing::AssertionFailure() << "wrote past the terminator";
    }
    return testing::AssertionSuccess();
}

struct StringCase {
    const char* name;
    const char* file;
    const char* section;
    const char* key;
    const char* defaultValue;
    DWORD size;
    const char* expected;
};

const StringCase kStringCases[] = {
    {"PlainValue", "[Sec]\r\nkey=value\r\n", "Sec", "key", "d", kBufferSize, "value"},
    {"SectionAndKeyIgnoreCase", "[Camera 1]\r\nPipeName=Camera Share\r\n", "CAMERA 1", "pipename", "d", kBufferSize,
     "Camera Share"},
    {"BlanksAroundKeyAndValueTrimmed", "[Sec]\r\n  spaced  =   some value   \r\n", "Sec", "spaced", "d", kBufferSize,
     "some value"},
    {"TabsTrimmed", "[Sec]\r\ntab\t=\tt\t\r\n", "Sec", "tab", "d", kBufferSize, "t"},
    {"BlanksAroundArgumentsIgnored", "[Sec]\r\nkey=value\r\n", " Sec ", "  key ", "d", kBufferSize, "value"},
    {"BlanksInsideHeaderIgnored", "[ Spaced Sec ]\r\nk=v\r\n", "Spaced Sec", "k", "d", kBufferSize, "v"},
    {"IndentedHeader", "   [C]   \r\nk=v\r\n", "C", "k", "d", kBufferSize, "v"},
    {"DoubleQuotesDropped", "[Sec]\r\nq=\"q v\"\r\n", "Sec", "q", "d", kBufferSize, "q v"},
    {"SingleQuotesKeepBlanks", "[Sec]\r\nq=' s v '\r\n", "Sec", "q", "d", kBufferSize, " s v "},
    {"UnmatchedQuotesKept", "[Sec]\r\nq='x\"\r\n", "Sec", "q", "d", kBufferSize, "'x\""},
    {"OpeningQuoteAloneKept", "[Sec]\r\nq=\"abc\r\n", "Sec", "q", "d", kBufferSize, "\"abc"},
    {"EmptyQuotesGiveEmpty", "[Sec]\r\nq=\"\"\r\n", "Sec", "q", "d", kBufferSize, ""},
    {"EqualsSignInValue", "[Sec]\r\neq=a=b\r\n", "Sec", "eq", "d", kBufferSize, "a=b"},
    {"EmptyValueIsNotTheDefault", "[Sec]\r\nk=\r\n", "Sec", "k", "d", kBufferSize, ""},
    {"BlankValueIsEmpty", "[Sec]\r\nk=  \t \r\n", "Sec", "k", "d", kBufferSize, ""},
    {"LineWithoutEqualsGivesDefault", "[Sec]\r\nnoeq\r\n", "Sec", "noeq", "d", kBufferSize, "d"},
    {"FirstOfTwoKeysCounts", "[Sec]\r\ndup=first\r\ndup=second\r\n", "Sec", "dup", "d", kBufferSize, "first"},
    {"OnlyFirstOfTwoSectionsCounts", "[Sec]\r\na=1\r\n[sec]\r\nb=2\r\n", "Sec", "b", "d", kBufferSize, "d"},
    {"KeysBeforeFirstHeaderHaveEmptySection", "pre=p\r\n[A]\r\nk=v\r\n", "", "pre", "d", kBufferSize, "p"},
    {"TextAfterHeaderIgnored", "[B] junk\r\nk=v\r\n", "B", "k", "d", kBufferSize, "v"},
    {"HeaderEndsAtLastBracket", "[D]]\r\nk=v\r\n", "D]", "k", "d", kBufferSize, "v"},
    {"HeaderWithoutBracketIsNoHeader", "pre=p\r\n[A\r\nk=v\r\n", "", "k", "d", kBufferSize, "v"},
    {"SemicolonLineIsAnOrdinaryKey", "[Sec]\r\n;comm=x\r\n", "Sec", ";comm", "d", kBufferSize, "x"},
    {"LineFeedLineEnds", "[A]\nx=1\ny=2\n", "A", "y", "d", kBufferSize, "2"},
    {"CarriageReturnLineEnds", "[A]\rx=1\ry=2\r", "A", "y", "d", kBufferSize, "2"},
    {"NoFinalLineEnd", "[A]\r\nx=1", "A", "x", "d", kBufferSize, "1"},
    {"ByteOrderMarkSkipped", "\xEF\xBB\xBF[A]\r\nx=1\r\n", "A", "x", "d", kBufferSize, "1"},
    {"MissingKeyGivesDefault", "[Sec]\r\nkey=value\r\n", "Sec", "other", "def", kBufferSize, "def"},
    {"MissingSectionGivesDefault", "[Sec]\r\nkey=value\r\n", "Other", "key", "def", kBufferSize, "def"},
    {"EmptyFileGivesDefault", "", "Sec", "key", "def", kBufferSize, "def"},
    {"DefaultLosesTrailingSpaces", "[Sec]\r\n", "Sec", "key", "  def  ", kBufferSize, "  def"},
    {"DefaultKeepsTrailingTab", "[Sec]\r\n", "Sec", "key", "x\t", kBufferSize, "x\t"},
    {"DefaultLosesQuotes", "[Sec]\r\n", "Sec", "key", "\"def\"", kBufferSize, "def"},
    {"NullDefaultIsEmpty", "[Sec]\r\n", "Sec", "key", nullptr, kBufferSize, ""},
    {"ValueFitsExactly", "[Sec]\r\nkey=value\r\n", "Sec", "key", "d", 6, "value"},
    {"ValueOneShortIsCut", "[Sec]\r\nkey=value\r\n", "Sec", "key", "d", 5, "valu"},
    {"SizeOneGivesEmpty", "[Sec]\r\nkey=value\r\n", "Sec", "key", "d", 1, ""},
    {"DefaultIsCut", "[Sec]\r\n", "Sec", "key", "defaultlong", 4, "def"},
    {"QuotedValueIsCutAfterQuotesGo", "[Sec]\r\nq=\"q v\"\r\n", "Sec", "q", "d", 3, "q "},
};

class ProfileString : public testing::TestWithParam<StringCase> {
protected:
    testsupport::TempDir dir_;
};

TEST_P(ProfileString, CopiesValueOrDefault) {
    const StringCase& row = GetParam();
    dir_.Write(kFileName, row.file);
    EXPECT_TRUE(
        Copied(ReadString(row.section, row.key, row.defaultValue, row.size, dir_.File(kFileName)), row.expected));
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileString, testing::ValuesIn(kStringCases), RowName());

class ProfileStringFile : public testing::Test {
protected:
    testsupport::TempDir dir_;
};

TEST_F(ProfileStringFile, MissingFileGivesDefaultAndFileNotFound) {
    const ReadResult read = ReadString("Sec", "key", "def", kBufferSize, dir_.File("missing.ini"));
    EXPECT_TRUE(Copied(read, "def"));
    EXPECT_EQ(read.error, ERROR_FILE_NOT_FOUND);
}

TEST_F(ProfileStringFile, MissingFolderGivesDefaultAndPathNotFound) {
    const ReadResult read = ReadString("Sec", "key", "def", kBufferSize, dir_.File("missing/missing.ini"));
    EXPECT_TRUE(Copied(read, "def"));
    EXPECT_EQ(read.error, ERROR_PATH_NOT_FOUND);
}

TEST_F(ProfileStringFile, SizeZeroWritesNothing) {
    dir_.Write(kFileName, "[Sec]\r\nkey=value\r\n");
    const ReadResult read = ReadString("Sec", "key", "def", 0, dir_.File(kFileName));
    EXPECT_EQ(read.result, 0u);
    EXPECT_EQ(read.buffer, std::string(kBufferSize, kPoison));
}

TEST_F(ProfileStringFile, NullBufferGivesZero) {
    dir_.Write(kFileName, "[Sec]\r\nkey=value\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("Sec", "key", "d", nullptr, kBufferSize, dir_.File(kFileName).c_str()), 0u);
}

TEST_F(ProfileStringFile, NullFileNameGivesDefault) {
    // Windows reads win.ini instead, which has no such section either.
    std::string buffer(kBufferSize, kPoison);
    const DWORD result =
        GetPrivateProfileStringA("Quorvex Test Section Nobody Has", "key", "def", &buffer[0], kBufferSize, nullptr);
    EXPECT_TRUE(Copied({result, 0, buffer}, "def"));
}

TEST_F(ProfileStringFile, QuotedValueFillingTheBufferExactly) {
    dir_.Write(kFileName, "[Sec]\r\nq=\"q v\"\r\n");
    const ReadResult read = ReadString("Sec", "q", "d", 4, dir_.File(kFileName));
    EXPECT_TRUE(Copied(read, known::ProfileQuotedValueLosesCharAtExactSize() ? "q " : "q v"));
}

struct IntCase {
    const char* name;
    const char* file;
    const char* key;
    INT defaultValue;
    UINT expected;
};

const IntCase kIntCases[] = {
    {"Decimal", "[N]\r\nk=3000\r\n", "k", 42, 3000},
    {"StopsAtFirstNonDigit", "[N]\r\nk=12abc\r\n", "k", 42, 12},
    {"LeadingBlanks", "[N]\r\nk= \t 7\r\n", "k", 42, 7},
    {"Negative", "[N]\r\nk=-3\r\n", "k", 42, static_cast<UINT>(-3)},
    {"Plus", "[N]\r\nk=+5\r\n", "k", 42, 5},
    {"Hex", "[N]\r\nk=0x10\r\n", "k", 42, 16},
    {"HexMixedCaseDigits", "[N]\r\nk=0xAbC\r\n", "k", 42, 0xabc},
    {"NegativeHex", "[N]\r\nk=-0x10\r\n", "k", 42, static_cast<UINT>(-16)},
    {"UpperCaseHexPrefixIsNoPrefix", "[N]\r\nk=0X10\r\n", "k", 42, 0},
    {"HexPrefixAlone", "[N]\r\nk=0x\r\n", "k", 42, 0},
    {"Octal", "[N]\r\nk=0o17\r\n", "k", 42, 15},
    {"Binary", "[N]\r\nk=0b101\r\n", "k", 42, 5},
    {"BinaryStopsAtTwo", "[N]\r\nk=0b102\r\n", "k", 42, 2},
    {"LeadingZeroIsDecimal", "[N]\r\nk=010\r\n", "k", 42, 10},
    {"Letters", "[N]\r\nk=abc\r\n", "k", 42, 0},
    {"BlankAfterSign", "[N]\r\nk=- 3\r\n", "k", 42, 0},
    {"TwoSigns", "[N]\r\nk=--1\r\n", "k", 42, 0},
    {"Fraction", "[N]\r\nk=3.7\r\n", "k", 42, 3},
    {"Exponent", "[N]\r\nk=1e3\r\n", "k", 42, 1},
    {"Quoted", "[N]\r\nk=\"12\"\r\n", "k", 42, 12},
    {"LargestUnsigned", "[N]\r\nk=4294967295\r\n", "k", 42, 4294967295u},
    {"SmallestSigned", "[N]\r\nk=-2147483648\r\n", "k", 42, 2147483648u},
    {"WrapsPast32Bits", "[N]\r\nk=99999999999\r\n", "k", 42, 1215752191u},
    {"OnlyFirst29CharactersRead", "[N]\r\nk=000000000000000000000000000012\r\n", "k", 42, 1},
    {"EmptyGivesDefault", "[N]\r\nk=\r\n", "k", 42, 42},
    {"EmptyQuotesGiveDefault", "[N]\r\nk=\"\"\r\n", "k", 42, 42},
    {"MissingKeyGivesDefault", "[N]\r\nk=1\r\n", "other", 42, 42},
    {"NegativeDefault", "[N]\r\n", "k", -5, static_cast<UINT>(-5)},
    {"KeyIgnoresCase", "[N]\r\nLogLevel=4\r\n", "LOGLEVEL", 42, 4},
};

class ProfileInt : public testing::TestWithParam<IntCase> {
protected:
    testsupport::TempDir dir_;
};

TEST_P(ProfileInt, ParsesAsWindows) {
    const IntCase& row = GetParam();
    dir_.Write(kFileName, row.file);
    EXPECT_EQ(GetPrivateProfileIntA("N", row.key, row.defaultValue, dir_.File(kFileName).c_str()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileInt, testing::ValuesIn(kIntCases), RowName());

TEST_F(ProfileStringFile, IntFromMissingFileIsDefault) {
    SetLastError(kPoisonError);
    EXPECT_EQ(GetPrivateProfileIntA("N", "k", 42, dir_.File("missing.ini").c_str()), 42u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProfileStringFile, IntWithNullFileNameIsDefault) {
    EXPECT_EQ(GetPrivateProfileIntA("Quorvex Test Section Nobody Has", "k", 42, nullptr), 42u);
}

struct WriteCase {
    const char* name;
    const char* before;  // nullptr: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;  // nullptr: still no file
    // What Wine leaves instead, when it reformats the file; nullptr: the same.
    const char* afterReformatted;
};

const WriteCase kWriteCases[] = {
    {"CreatesFile", nullptr, "Camera 1", "PipeName", "Camera Share", "[Camera 1]\r\nPipeName=Camera Share\r\n",
     nullptr},
    {"FillsEmptyFile", "", "A", "y", "2", "[A]\r\ny=2\r\n", nullptr},
    {"AddsKeyAtEndOfItsSection", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "A", "z", "3", "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n",
     nullptr},
    {"AddsSectionAtEnd", "[A]\r\nx=1\r\n", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", nullptr},
    {"AddsKeyToEmptySection", "[A]\r\n[B]\r\nx=1\r\n", "A", "y", "2", "[A]\r\ny=2\r\n[B]\r\nx=1\r\n", nullptr},
    {"ReplacesValueKeepingKeySpelling", "[Camera 1]\r\nPipeName=Camera Share\r\nLogLevel=1\r\n", "camera 1", "PIPENAME",
     "Other", "[Camera 1]\r\nPipeName=Other\r\nLogLevel=1\r\n", nullptr},
    {"SameValueChangesNothing", "[A]\r\nx=1\r\n", "A", "x", "1", "[A]\r\nx=1\r\n", nullptr},
    {"ValueLosesLeadingBlanksOnly", "[A]\r\n", "A", "Sp", " \t lead and trail  ", "[A]\r\nSp=lead and trail  \r\n",
     nullptr},
    {"EmptyValue", "[A]\r\n", "A", "E", "", "[A]\r\nE=\r\n", nullptr},
    {"NullValueDeletesKey", "[A]\r\nx=1\r\ny=2\r\n", "A", "X", nullptr, "[A]\r\ny=2\r\n", nullptr},
    {"DeletingLastKeyKeepsHeader", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "A", "x", nullptr, "[A]\r\n[B]\r\ny=2\r\n", nullptr},
    {"NullValueForMissingKeyChangesNothing", "[A]\r\nx=1\r\n", "A", "y", nullptr, "[A]\r\nx=1\r\n", nullptr},
    {"NullKeyDeletesSection", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[C]\r\nz=3\r\n", "b", nullptr, nullptr,
     "[A]\r\nx=1\r\n[C]\r\nz=3\r\n", nullptr},
    {"NullKeyDeletesLastSection", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "B", nullptr, nullptr, "[A]\r\nx=1\r\n", nullptr},
    {"NullKeyForMissingSectionChangesNothing", "[A]\r\nx=1\r\n", "B", nullptr, nullptr, "[A]\r\nx=1\r\n", nullptr},
    {"DeletingKeyCreatesNoFile", nullptr, "A", "x", nullptr, nullptr, nullptr},
    {"DeletingSectionCreatesNoFile", nullptr, "A", nullptr, nullptr, nullptr, nullptr},
    {"LastLineWithoutEndGetsOneBeforeNewKey", "[A]\r\nx=1", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n", nullptr},
    {"LastLineWithoutEndGetsOneBeforeNewSection", "[A]\r\nx=1", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", nullptr},
    {"ReplacedLastLineGetsEnd", "[A]\r\nx=1", "A", "x", "2", "[A]\r\nx=2\r\n", nullptr},
    {"EmptySectionNameWritesBeforeFirstHeader", "[A]\r\nx=1\r\n", "", "p", "1", "p=1\r\n[A]\r\nx=1\r\n", nullptr},
    {"CommentsAndOtherSectionsKept", "; leading comment\r\n[A]\r\nx=1\r\n; inner comment\r\ny=2\r\n[B]\r\nz=3\r\n", "A",
     "y", "22", "; leading comment\r\n[A]\r\nx=1\r\n; inner comment\r\ny=22\r\n[B]\r\nz=3\r\n", nullptr},
    {"NewKeyGoesAfterComment", "[A]\r\nx=1\r\n; inner comment\r\n[B]\r\nz=3\r\n", "A", "new", "n",
     "[A]\r\nx=1\r\n; inner comment\r\nnew=n\r\n[B]\r\nz=3\r\n", nullptr},
    {"OnlyFirstOfTwoSectionsChanged", "[A]\r\nx=1\r\n[A]\r\ny=2\r\n", "A", "y", "3",
     "[A]\r\nx=1\r\ny=3\r\n[A]\r\ny=2\r\n", nullptr},
    {"OnlyFirstOfTwoSectionsDeleted", "[A]\r\nx=1\r\n[A]\r\ny=2\r\n", "A", nullptr, nullptr, "[A]\r\ny=2\r\n", nullptr},
    {"SpacedKeyLineReplacedWhole", "[A]\r\n  x = 1  \r\n", "A", "x", "2", "[A]\r\nx=2\r\n", nullptr},
    {"BlankLinesAndSpacingOfOtherLinesKept", "[A]\r\n  x = 1  \r\n\r\n[B]\r\nz=3\r\n", "A", "y", "2",
     "[A]\r\n  x = 1  \r\ny=2\r\n\r\n[B]\r\nz=3\r\n", "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n"},
    {"LineFeedsOfOtherLinesKept", "[A]\nx=1\ny=2\n", "A", "x", "5", "[A]\nx=5\ny=2\n", "[A]\r\nx=5\r\ny=2\r\n"},
};

class ProfileWrite : public testing::TestWithParam<WriteCase> {
protected:
    testsupport::TempDir dir_;
};

TEST_P(ProfileWrite, LeavesFileAsWindowsDoes) {
    const WriteCase& row = GetParam();
    const bool unchanged = row.before != nullptr && row.after != nullptr && std::strcmp(row.before, row.after) == 0;
    std::filesystem::file_time_type aged{};
    if (row.before != nullptr) {
        dir_.Write(kFileName, row.before);
        // Backdated, so that a rewrite with the same bytes still shows.
        aged = std::filesystem::last_write_time(dir_.File(kFileName)) - std::chrono::hours(24 * 365);
        std::filesystem::last_write_time(dir_.File(kFileName), aged);
    }
    EXPECT_TRUE(WritePrivateProfileStringA(row.section, row.key, row.value, dir_.File(kFileName).c_str()));
    if (unchanged) {
        EXPECT_TRUE(std::filesystem::last_write_time(dir_.File(kFileName)) == aged) << "rewrote the file";
    }
    const char* after =
        row.afterReformatted != nullptr && known::ProfileWriteReformatsFile() ? row.afterReformatted : row.after;
    if (after == nullptr) {
        EXPECT_FALSE(dir_.Exists(kFileName));
    } else {
        EXPECT_EQ(dir_.Read(kFileName), after);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileWrite, testing::ValuesIn(kWriteCases), RowName());

class ProfileFile : public testing::Test {
protected:
    std::string Path() const { return dir_.File(kFileName); }

    std::string ReadBack(const char* section, const char* key) const {
        return ReadString(section, key, "missing", kBufferSize, Path()).buffer.c_str();
    }

    testsupport::TempDir dir_;
};

TEST_F(ProfileFile, SettingsOfACameraRoundTrip) {
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 1", "PipeName", "Camera Share", Path().c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 1", "LogLevel", "1", Path().c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 1", "ConnectionTimeout", "3000", Path().c_str()));
    EXPECT_EQ(dir_.Read(kFileName), "[Camera 1]\r\nPipeName=Camera Share\r\nLogLevel=1\r\nConnectionTimeout=3000\r\n");
    EXPECT_EQ(ReadBack("Camera 1", "PipeName"), "Camera Share");
    EXPECT_EQ(GetPrivateProfileIntA("Camera 1", "LogLevel", 9, Path().c_str()), 1u);
    EXPECT_EQ(GetPrivateProfileIntA("Camera 1", "ConnectionTimeout", 9, Path().c_str()), 3000u);
    EXPECT_EQ(GetPrivateProfileIntA("Camera 2", "ConnectionTimeout", 9, Path().c_str()), 9u);
}

TEST_F(ProfileFile, BlanksAroundWrittenNamesDoNotCount) {
    ASSERT_TRUE(WritePrivateProfileStringA("  S p  ", "  kk  ", "  vv  ", Path().c_str()));
    EXPECT_EQ(ReadBack("s P", "KK"), "vv");
    ASSERT_TRUE(WritePrivateProfileStringA("S p", "kk", "w", Path().c_str()));
    EXPECT_EQ(ReadBack(" S p ", " kk "), "w");
}

TEST_F(ProfileFile, LongValueIsCutTo255Characters) {
    const std::string value(300, 'a');
    ASSERT_TRUE(WritePrivateProfileStringA("Camera 1", "PipeName", value.c_str(), Path().c_str()));
    char buffer[256];
    std::memset(buffer, kPoison, sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA("Camera 1", "PipeName", "", buffer, sizeof buffer, Path().c_str()), 255u);
    EXPECT_EQ(std::string(buffer), value.substr(0, 255));
}

TEST_F(ProfileFile, MissingFolderFailsWithPathNotFound) {
    const std::string path = dir_.File("missing/test.ini");
    SetLastError(kPoisonError);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(dir_.Exists("missing"));
}

TEST_F(ProfileFile, NullSectionFailsAndChangesNothing) {
    dir_.Write(kFileName, "[A]\r\nx=1\r\n");
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "x", "2", Path().c_str()));
    EXPECT_EQ(dir_.Read(kFileName), "[A]\r\nx=1\r\n");
}

TEST_F(ProfileFile, NullFileNameIsRefused) {
    if (known::kNullProfileFileIsWinIni) {
        GTEST_SKIP() << "a null file name means win.ini here";
    }
    SetLastError(kPoisonError);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ProfileFile, ConcurrentWritersLoseNoKey) {
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 25;
    const std::string path = Path();
    std::vector<std::thread> writers;
    for (int thread = 0; thread < kThreads; ++thread) {
        writers.emplace_back([thread, path] {
            for (int key = 0; key < kKeysEach; ++key) {
                const std::string name = "k" + std::to_string(thread) + "_" + std::to_string(key);
                WritePrivateProfileStringA("Shared", name.c_str(), name.c_str(), path.c_str());
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int key = 0; key < kKeysEach; ++key) {
            const std::string name = "k" + std::to_string(thread) + "_" + std::to_string(key);
            EXPECT_EQ(ReadBack("Shared", name.c_str()), name);
        }
    }
}

}  // namespace
