// The host library's texts: UTF-8 from and to its callers, the system's
// narrow text (the ANSI code page on Windows, the same bytes elsewhere) in
// Quorvex.ini, in the driver and in the server's names, so that a share
// named with letters beyond ASCII reaches its server.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "platform/win32.h"
#include "support/narrow_text.h"
#include "support/unique_name.h"

namespace hosttests {
namespace {

// "café" and the euro sign: letters that Western ANSI code pages hold.
constexpr char kCafeUtf8[] = "caf\xC3\xA9 \xE2\x82\xAC";
// A face with tears of joy, which no ANSI code page holds.
constexpr char kEmojiUtf8[] = "\xF0\x9F\x98\x82";

// The camera's share name as the driver reads it.
std::string DriverReadsShare(const std::string& file, const char* camera) {
    char share[256] = "poison";
    GetPrivateProfileStringA(camera, "PipeName", "Camera Share", share, sizeof share, file.c_str());
    return share;
}

struct LogLines {
    std::mutex lock;
    std::vector<std::string> lines;

    bool AnyHolds(const std::string& text) {
        std::lock_guard<std::mutex> hold(lock);
        for (const std::string& line : lines) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

void KeepLine(void* context, const char* line) {
    LogLines& log = *static_cast<LogLines*>(context);
    std::lock_guard<std::mutex> hold(log.lock);
    log.lines.emplace_back(line);
}

TEST_F(HostTest, AShareBeyondAsciiReachesTheFileInTheDriversTextAndItsServer) {
    const std::string share = std::string(kCafeUtf8) + " " + testsupport::UniqueName("text");
    const std::string narrow = testsupport::NarrowForm(share);
    ASSERT_FALSE(narrow.empty()) << "the ANSI code page holds no é or €";
    Server server(16, 8, 1, narrow);
    ASSERT_TRUE(server.Up());
    LogLines log;
    QuorvexHostSetLog(host_, &KeepLine, &log);
    QuorvexHostSettings settings{share.c_str(), 2, kWaitMs};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 3", &settings)) << QuorvexHostLastError();
    EXPECT_NE(std::string::npos, dir_.Read("Quorvex.ini").find("PipeName=" + narrow + "\r\n"))
        << dir_.Read("Quorvex.ini");
    const std::string file = dir_.File("Quorvex.ini");
    EXPECT_EQ(narrow, DriverReadsShare(file, "Camera 3"));

    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 3", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    EXPECT_EQ(16, width) << "the driver found no server on the share written";
    // Given back as the caller wrote it.
    EXPECT_EQ(share, QuorvexHostCameraShare(camera));
    ASSERT_TRUE(Deliver(server, camera, 3));
    QuorvexHostFrame frame{};
    ASSERT_EQ(QUORVEX_HOST_FRAME, QuorvexHostCameraRead(camera, kWaitMs, &frame)) << QuorvexHostLastError();
    QuorvexHostCameraRelease(camera, &frame);
    // The driver's own lines reach the host in UTF-8 too.
    EXPECT_TRUE(log.AnyHolds("connected to share '" + share + "'"));
    QuorvexHostCameraClose(camera);
    QuorvexHostSetLog(host_, nullptr, nullptr);
}

TEST_F(HostTest, SentencesNameTheShareInUtf8) {
    const std::string share = std::string(kCafeUtf8) + " served by nobody";
    QuorvexHostSettings settings{share.c_str(), QUORVEX_HOST_KEEP, 100};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 4", &settings)) << QuorvexHostLastError();
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 4", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    QuorvexHostFrame frame{};
    EXPECT_EQ(QUORVEX_HOST_NO_SERVER, QuorvexHostCameraRead(camera, 100, &frame));
    EXPECT_NE(std::string::npos,
              std::string(QuorvexHostLastError()).find("no camera server answers on the share \"" + share + "\""))
        << QuorvexHostLastError();
    QuorvexHostCameraClose(camera);

    // A refused name is quoted as given.
    const std::string quoted = "\"" + std::string(kCafeUtf8) + "\"";
    settings = QuorvexHostSettings{quoted.c_str(), QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "Camera 4", &settings));
    EXPECT_EQ("the share name \"" + quoted + "\" is refused: it is enclosed in quotes, which the driver drops",
              std::string(QuorvexHostLastError()));
}

#ifdef _WIN32
// What the ANSI code page cannot hold is refused before anything is written:
// the driver would read another name, and never find its server.
TEST_F(HostTest, TextTheAnsiCodePageCannotHoldIsRefused) {
    const std::string before = "[Camera 1]\r\nPipeName=kept\r\n";
    dir_.Write("Quorvex.ini", before);
    const std::string share = std::string("smile ") + kEmojiUtf8;
    QuorvexHostSettings settings{share.c_str(), 3, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "Camera 1", &settings));
    const std::string codePage = "the ANSI code page " + std::to_string(GetACP());
    EXPECT_EQ("the share name \"" + share + "\" is refused: it cannot be written in " + codePage +
                  ", in which the driver reads it",
              std::string(QuorvexHostLastError()));
    EXPECT_EQ(before, dir_.Read("Quorvex.ini"));

    // Whatever the code page: a name is written exactly as the system converts
    // it without look-alikes, or refused. "ā" is no "a", "Ω" no "O".
    for (const std::string& name : {std::string("\xC4\x81"), std::string("\xCE\xA9mega"), std::string(kCafeUtf8)}) {
        settings = QuorvexHostSettings{name.c_str(), QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
        const std::string narrow = testsupport::NarrowForm(name);
        if (narrow.empty()) {
            EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "Camera 1", &settings)) << name;
            EXPECT_EQ(before, dir_.Read("Quorvex.ini")) << name;
        } else {
            EXPECT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 2", &settings)) << QuorvexHostLastError();
            EXPECT_EQ(narrow, DriverReadsShare(dir_.File("Quorvex.ini"), "Camera 2")) << name;
            dir_.Write("Quorvex.ini", before);
        }
    }

    const std::string folder = dir_.Path() + "\\" + kEmojiUtf8;
    EXPECT_EQ(nullptr, QuorvexHostOpen(nullptr, folder.c_str()));
    EXPECT_EQ(
        "the settings folder \"" + folder + "\" cannot be written in " + codePage + ", the only text the driver reads",
        std::string(QuorvexHostLastError()));
}
#else
// Elsewhere bytes pass as they are: the driver reads back what was written.
TEST_F(HostTest, TextPassesAsItsBytes) {
    const std::string share = std::string("smile ") + kEmojiUtf8 + " \xFF\xFE not even UTF-8";
    QuorvexHostSettings settings{share.c_str(), QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 1", &settings)) << QuorvexHostLastError();
    EXPECT_EQ(share, DriverReadsShare(dir_.File("Quorvex.ini"), "Camera 1"));
}
#endif

}  // namespace
}  // namespace hosttests
