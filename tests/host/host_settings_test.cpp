// The host library's settings writer: the file read as the driver reads it,
// only the keys given changed, names the driver would not read back refused
// before anything is written, and concurrent writers in threads and
// processes losing nothing.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "platform/win32.h"
#include "settings_rules/settings_rules.h"
#include "support/host_owners.h"
#include "support/row_name.h"

namespace hosttests {
namespace {

// The camera's share name as the driver reads it.
std::string DriverReadsShare(const std::string& file, const char* camera) {
    char share[256] = "poison";
    GetPrivateProfileStringA(camera, "PipeName", "Camera Share", share, sizeof share, file.c_str());
    return share;
}

TEST_F(HostTest, AFileWithAByteOrderMarkAndCommentsIsChangedWhereTheDriverReads) {
    const std::string before =
        "\xEF\xBB\xBF; written by Notepad\r\n"
        "\r\n"
        "[Camera 1]\r\n"
        "PipeName=first\r\n"
        "\r\n"
        "[camera 2] ; the second camera\r\n"
        "; pipename=commented out\r\n"
        "pipename = old share\r\n"
        "LogLevel=2\r\n";
    dir_.Write("Quorvex.ini", before);
    const std::string file = QuorvexHostSettingsPath(host_);
    ASSERT_EQ("old share", DriverReadsShare(file, "Camera 2"));

    Server server(16, 8, 1);
    ASSERT_TRUE(server.Up());
    QuorvexHostSettings settings{server.Share().c_str(), QUORVEX_HOST_KEEP, kWaitMs};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 2", &settings)) << QuorvexHostLastError();
    EXPECT_EQ(server.Share(), DriverReadsShare(file, "Camera 2"));
    EXPECT_EQ("first", DriverReadsShare(file, "Camera 1"));
    EXPECT_EQ(2u, GetPrivateProfileIntA("Camera 2", "LogLevel", -1, file.c_str()));
    // Only the changed key's line differs, in the section the driver reads;
    // the new key joins that section.
    const std::string after = dir_.Read("Quorvex.ini");
    EXPECT_EQ(0u, after.find("\xEF\xBB\xBF; written by Notepad\r\n")) << after;
    EXPECT_NE(std::string::npos, after.find("pipename=" + server.Share() + "\r\n")) << after;
    EXPECT_NE(std::string::npos, after.find("; pipename=commented out\r\n")) << after;
    EXPECT_EQ(1u, [&] {
        size_t count = 0;
        for (size_t at = after.find("amera 2]"); at != std::string::npos; at = after.find("amera 2]", at + 1)) {
            ++count;
        }
        return count;
    }()) << after;

    // The driver opens the camera on the share written.
    QuorvexHostCamera* camera = QuorvexHostCameraOpen(host_, "Camera 2", nullptr);
    ASSERT_NE(nullptr, camera) << QuorvexHostLastError();
    int width = 0;
    int height = 0;
    QuorvexHostCameraOpenedSize(camera, &width, &height);
    EXPECT_EQ(16, width);
    EXPECT_EQ(server.Share(), QuorvexHostCameraShare(camera));
    QuorvexHostCameraClose(camera);
}

TEST_F(HostTest, TheFileLiesInTheSettingsFolderAsTheDriverNamesIt) {
    EXPECT_EQ(dir_.Path() + platform::kPathSeparator + "Quorvex.ini", QuorvexHostSettingsPath(host_));
}

// A folder that is not there is not made: the write fails, saying which file
// it could not take.
TEST(HostSettings, AWriteIntoAMissingFolderFailsSayingWhy) {
    testsupport::TempDir dir;
    const std::string missing = dir.File("missing");
    const testsupport::UniqueHost host(QuorvexHostOpen(nullptr, missing.c_str()));
    ASSERT_TRUE(host) << QuorvexHostLastError();
    const QuorvexHostSettings settings{nullptr, 1, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(host.get(), "Camera 1", &settings));
    const std::string why = QuorvexHostLastError();
    EXPECT_EQ(
        0u, why.find("cannot lock the settings file: " + std::string(QuorvexHostSettingsPath(host.get())) + ".lock: "))
        << why;
    EXPECT_FALSE(dir.Exists("missing"));
}

TEST_F(HostTest, NumbersAreBroughtIntoTheirRanges) {
    QuorvexHostSettings settings{nullptr, 9, 50};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 4", &settings)) << QuorvexHostLastError();
    const std::string file = QuorvexHostSettingsPath(host_);
    EXPECT_EQ(4u, GetPrivateProfileIntA("Camera 4", "LogLevel", -1, file.c_str()));
    EXPECT_EQ(100u, GetPrivateProfileIntA("Camera 4", "ConnectionTimeout", -1, file.c_str()));
    settings = QuorvexHostSettings{nullptr, -3, 60000};
    ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 4", &settings)) << QuorvexHostLastError();
    EXPECT_EQ(0u, GetPrivateProfileIntA("Camera 4", "LogLevel", -1, file.c_str()));
    EXPECT_EQ(10000u, GetPrivateProfileIntA("Camera 4", "ConnectionTimeout", -1, file.c_str()));
    // Keys not given stay away.
    EXPECT_EQ("Camera Share", DriverReadsShare(file, "Camera 4"));
}

TEST_F(HostTest, ACameraTheDriverDoesNotHaveIsRefusedBeforeAnythingIsWritten) {
    QuorvexHostSettings settings{"share", 1, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "Camera 99", &settings));
    EXPECT_STREQ("the driver has no camera \"Camera 99\"", QuorvexHostLastError());
    EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "camera 1", &settings));
    EXPECT_STREQ("the driver has no camera \"camera 1\"", QuorvexHostLastError());
    EXPECT_FALSE(dir_.Exists("Quorvex.ini"));
    EXPECT_EQ(nullptr, QuorvexHostCameraOpen(host_, "Camera 99", nullptr));
    EXPECT_STREQ("the driver has no camera \"Camera 99\"", QuorvexHostLastError());
}

struct RefusedRow {
    std::string name;
    std::string share;
    std::string reason;
};

class RefusedShareNames : public HostTest, public testing::WithParamInterface<RefusedRow> {};

TEST_P(RefusedShareNames, LeaveTheFileAsItWas) {
    const std::string before = "[Camera 1]\r\nPipeName=kept\r\n[Camera 2]\r\nPipeName=also kept\r\n";
    dir_.Write("Quorvex.ini", before);
    const RefusedRow& row = GetParam();
    QuorvexHostSettings settings{row.share.c_str(), 3, QUORVEX_HOST_KEEP};
    EXPECT_EQ(0, QuorvexHostWriteSettings(host_, "Camera 1", &settings));
    const std::string expected = "the share name \"" + row.share + "\" is refused: " + row.reason;
    EXPECT_EQ(expected, QuorvexHostLastError());
    // The same words as every other face, from the one rule.
    EXPECT_EQ(expected, settings_rules::ShareNameRefusal(row.share));
    EXPECT_EQ(before, dir_.Read("Quorvex.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, RefusedShareNames,
    testing::Values(RefusedRow{"line_break", "mine\n[Camera 2]\nPipeName=stolen", "it holds a line break"},
                    RefusedRow{"carriage_return", "mine\rmore", "it holds a line break"},
                    RefusedRow{"tab_inside", "a\tb", "it holds a control character"},
                    RefusedRow{"double_quotes", "\"quoted\"", "it is enclosed in quotes, which the driver drops"},
                    RefusedRow{"single_quotes", "'quoted'", "it is enclosed in quotes, which the driver drops"},
                    RefusedRow{"leading_blank", " share", "it begins or ends with a blank, which the driver drops"},
                    RefusedRow{"trailing_blank", "share ", "it begins or ends with a blank, which the driver drops"},
                    RefusedRow{"bytes_256", std::string(256, 's'),
                               "it is 256 bytes or longer, and the driver reads at most 255"},
                    RefusedRow{"empty", "", "it is empty"}),
    RowName());

TEST_F(HostTest, NamesTheDriverReadsBackAsWrittenAreAccepted) {
    const std::string file = QuorvexHostSettingsPath(host_);
    for (const std::string& share : {std::string(255, 'x'), std::string("a \"quote\" inside"), std::string("'half"),
                                     std::string("with = and ; and [brackets]"), std::string("x")}) {
        QuorvexHostSettings settings{share.c_str(), QUORVEX_HOST_KEEP, QUORVEX_HOST_KEEP};
        ASSERT_EQ(1, QuorvexHostWriteSettings(host_, "Camera 7", &settings)) << QuorvexHostLastError();
        EXPECT_EQ(share, DriverReadsShare(file, "Camera 7"));
    }
}

// Camera of writer `writer`'s write `write`: each writer has four cameras of
// its own.
std::string CameraOf(int writer, int write) {
    return "Camera " + std::to_string(writer * 4 + write % 4 + 1);
}

std::string ShareOf(int writer, int write) {
    return "writer " + std::to_string(writer) + " write " + std::to_string(write);
}

constexpr int kWriters = 8;
constexpr int kWrites = 100;

int WriteMany(QuorvexHost* host, int writer) {
    for (int write = 0; write < kWrites; ++write) {
        const std::string share = ShareOf(writer, write);
        QuorvexHostSettings settings{share.c_str(), write % 5, QUORVEX_HOST_KEEP};
        if (QuorvexHostWriteSettings(host, CameraOf(writer, write).c_str(), &settings) != 1) {
            std::fprintf(stderr, "write %d of writer %d: %s\n", write, writer, QuorvexHostLastError());
            return 1;
        }
    }
    return 0;
}

const bool kWriter = testsupport::RegisterChildVerb("write-many", [](const std::vector<std::string>& args) {
    QuorvexHost* host = QuorvexHostOpen(nullptr, args.at(0).c_str());
    if (host == nullptr) {
        std::fprintf(stderr, "%s\n", QuorvexHostLastError());
        return 2;
    }
    const int result = WriteMany(host, std::stoi(args.at(1)));
    QuorvexHostClose(host);
    return result;
});

// Every writer's last write to each of its cameras is in the file.
void ExpectNothingLost(const std::string& file) {
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int write = kWrites - 4; write < kWrites; ++write) {
            EXPECT_EQ(ShareOf(writer, write), DriverReadsShare(file, CameraOf(writer, write).c_str()));
        }
    }
}

TEST_F(HostTest, WritersInEightProcessesLoseNothing) {
    std::vector<std::unique_ptr<platform::ChildProcess>> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        children.push_back(std::make_unique<platform::ChildProcess>());
        ASSERT_TRUE(children.back()->Start(platform::ProgramPath(),
                                           {"--child=write-many", dir_.Path(), std::to_string(writer)},
                                           dir_.File("writer" + std::to_string(writer) + ".txt")));
    }
    for (int writer = 0; writer < kWriters; ++writer) {
        int exitCode = -1;
        ASSERT_TRUE(children[static_cast<size_t>(writer)]->Wait(120000, exitCode)) << writer;
        EXPECT_EQ(0, exitCode) << dir_.Read("writer" + std::to_string(writer) + ".txt");
    }
    ExpectNothingLost(QuorvexHostSettingsPath(host_));
}

TEST_F(HostTest, WritersInEightThreadsLoseNothing) {
    std::vector<std::thread> threads;
    std::vector<int> results(kWriters, -1);
    for (int writer = 0; writer < kWriters; ++writer) {
        threads.emplace_back([&, writer] { results[static_cast<size_t>(writer)] = WriteMany(host_, writer); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::vector<int>(kWriters, 0), results);
    ExpectNothingLost(QuorvexHostSettingsPath(host_));
}

}  // namespace
}  // namespace hosttests
