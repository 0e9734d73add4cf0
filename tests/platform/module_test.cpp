// Loading libraries and looking up their procedures.
#include <gtest/gtest.h>

#include <string>

#include "known_differences.h"
#include "platform/win32.h"
#include "support/row_name.h"
#include "support/temp_dir.h"

namespace {

constexpr DWORD kPoisonError = 0xdeadbeef;

using CosProcedure = double (*)(double);

// A procedure's address in the type it really has; the step through
// void (*)() tells the compiler that the change of type is meant.
CosProcedure AsCos(FARPROC procedure) {
    return reinterpret_cast<CosProcedure>(reinterpret_cast<void (*)()>(procedure));
}

HMODULE Load(const char* name, DWORD& error) {
    SetLastError(kPoisonError);
    const HMODULE module = LoadLibraryA(name);
    error = GetLastError();
    return module;
}

TEST(Module, LoadsLibraryAndFindsItsProcedure) {
    DWORD error = 0;
    const HMODULE library = Load(known::kLibraryWithCos, error);
    ASSERT_NE(library, nullptr);
    SetLastError(kPoisonError);
    const FARPROC procedure = GetProcAddress(library, "cos");
    ASSERT_NE(procedure, nullptr);
    EXPECT_EQ(GetLastError(), kPoisonError);
    EXPECT_EQ(AsCos(procedure)(0.0), 1.0);
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(Module, LoadingTwiceGivesTheSameModuleAndNeedsTwoFrees) {
    DWORD error = 0;
    const HMODULE first = Load(known::kLibraryWithCos, error);
    const HMODULE second = Load(known::kLibraryWithCos, error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(GetProcAddress(second, "cos"), nullptr);
    EXPECT_TRUE(FreeLibrary(second));
}

struct MissingModuleCase {
    const char* name;
    const char* file;  // inside the test's folder; nullptr: no path at all
};

class MissingModule : public testing::TestWithParam<MissingModuleCase> {
protected:
    testsupport::TempDir dir_;
};

TEST_P(MissingModule, FailsWithModuleNotFound) {
    const std::string path = GetParam().file == nullptr ? std::string() : dir_.File(GetParam().file);
    DWORD error = 0;
    EXPECT_EQ(Load(GetParam().file == nullptr ? "quorvex_no_such_library_anywhere" : path.c_str(), error), nullptr);
    EXPECT_EQ(error, ERROR_MOD_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Rows, MissingModule,
                         testing::Values(MissingModuleCase{"BareName", nullptr},
                                         MissingModuleCase{"FileInFolder", "missing_library"},
                                         MissingModuleCase{"MissingFolder", "missing/missing_library"}),
                         RowName());

TEST(Module, EmptyAndNullNamesFailWithModuleNotFound) {
    DWORD error = 0;
    EXPECT_EQ(Load("", error), nullptr);
    EXPECT_EQ(error, ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Load(nullptr, error), nullptr);
    EXPECT_EQ(error, ERROR_MOD_NOT_FOUND);
}

TEST(Module, FileThatIsNoLibraryFailsWithBadFormat) {
    testsupport::TempDir dir;
    // With an extension: Windows adds ".dll" to a name without one.
    dir.Write("not_a_library.dll", "plain text, not code\r\n");
    DWORD error = 0;
    EXPECT_EQ(Load(dir.File("not_a_library.dll").c_str(), error), nullptr);
    EXPECT_EQ(error, ERROR_BAD_EXE_FORMAT);
}

TEST(Module, MissingProcedureFailsWithProcNotFound) {
    DWORD error = 0;
    const HMODULE library = Load(known::kLibraryWithCos, error);
    ASSERT_NE(library, nullptr);
    for (const char* name : {"quorvex_no_such_procedure", ""}) {
        SetLastError(kPoisonError);
        EXPECT_EQ(GetProcAddress(library, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND) << name;
    }
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(Module, MissingProcedureOfTheProgramFailsWithProcNotFound) {
    SetLastError(kPoisonError);
    EXPECT_EQ(GetProcAddress(nullptr, "quorvex_no_such_procedure"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(Module, FreeingNullFailsWithInvalidHandle) {
    SetLastError(kPoisonError);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
