#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "status_console.h"

namespace {

using std::chrono::hours;

// A temporary file that the console writes and the test reads back.
class Captured {
public:
    Captured() : file_(std::tmpfile()) {}
    std::FILE* Get() const { return file_.get(); }
    std::string Text() const {
        std::fflush(file_.get());
        std::rewind(file_.get());
        std::string text;
        int c = 0;
        while ((c = std::fgetc(file_.get())) != EOF) {
            text += static_cast<char>(c);
        }
        return text;
    }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

TEST(StatusConsole, PlainStatusLinesAreSpacedOutUnlessForced) {
    Captured out;
    ASSERT_NE(nullptr, out.Get());
    tools::StatusConsole console(out.Get(), false, hours(1));
    console.Status("first");
    console.Status("second");
    console.Line("a line");
    console.Status("third", true);
    console.Finish();
    EXPECT_EQ("first\na line\nthird\n", out.Text());
}

TEST(StatusConsole, LinesGetOneLineEnd) {
    Captured out;
    tools::StatusConsole console(out.Get(), false, hours(1));
    console.Line("ends\n");
    console.Line("bare");
    console.Line("");
    EXPECT_EQ("ends\nbare\n\n", out.Text());
}

TEST(StatusConsole, OnATerminalTheStatusIsRedrawnAroundLines) {
    Captured out;
    tools::StatusConsole console(out.Get(), true, hours(1));
    console.Status("12345", true);
    console.Line("log");
    console.Status("abc", true);
    console.Finish();
    // Cleared before the line, drawn again after it, then overwritten by a
    // shorter status padded with blanks.
    EXPECT_EQ("\r12345\r     \rlog\n\r12345\rabc  \n", out.Text());
}

}  // namespace
