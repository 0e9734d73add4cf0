// The camera-server library against the driver's own client end: the channel
// and the segment reader.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

#include "link/shared_memory.h"
#include "link_test_support.h"
#include "platform/unique_handle.h"
#include "support/win32_exception.h"

namespace {

using linktest::AskDimensions;
using linktest::ConnectClient;
using linktest::kWaitMs;
using linktest::NothingArrives;
using linktest::Pattern;
using linktest::ReadMessage;
using linktest::StartServer;
using linktest::UniqueName;

constexpr DWORD kQuietMs = 300;

struct CreateRow {
    const char* name;
    const char* shareName;
    int segmentBytes;
    int maxClients;
    const char* because;  // a part of QuorvexServerLastError(NULL)
};

void PrintTo(const CreateRow& row, std::ostream* out) {
    *out << row.name;
}

class CreateArgumentsTest : public testing::TestWithParam<CreateRow> {};

TEST_P(CreateArgumentsTest, AreRefused) {
    SetLastError(0xdeadbeef);
    linktest::ServerPtr server(
        QuorvexServerCreate(GetParam().shareName, GetParam().segmentBytes, GetParam().maxClients));
    EXPECT_EQ(nullptr, server);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    const std::string reason = QuorvexServerLastError(nullptr);
    EXPECT_NE(std::string::npos, reason.find(GetParam().because)) << reason;
}

INSTANTIATE_TEST_SUITE_P(Rows, CreateArgumentsTest,
                         testing::Values(CreateRow{"NullName", nullptr, 4096, 1, "share name is empty"},
                                         CreateRow{"EmptyName", "", 4096, 1, "share name is empty"},
                                         CreateRow{"NoSegment", "QuorvexLink_args", 0, 1, "not 0"},
                                         CreateRow{"NegativeSegment", "QuorvexLink_args", -1, 1, "not -1"},
                                         CreateRow{"NoClients", "QuorvexLink_args", 4096, 0, "maxClients"},
                                         CreateRow{"TooManyClients", "QuorvexLink_args", 4096,
                                                   QUORVEX_SERVER_MAX_CLIENTS + 1, "not 9"}),
                         RowName());

TEST(CameraServerTest, SecondServerOfTheSameNameIsRefused) {
    const std::string name = UniqueName("twice");
    linktest::ServerPtr first = StartServer(name, 4096, QUORVEX_SERVER_MAX_CLIENTS);
    ASSERT_NE(first, nullptr);
    linktest::ServerPtr second(QuorvexServerCreate(name.c_str(), 4096, 1));
    EXPECT_EQ(nullptr, second);
    const std::string reason = QuorvexServerLastError(nullptr);
    // The first server is this process's own: the reason says so, rather
    // than send the user looking for another process.
    EXPECT_NE(std::string::npos, reason.find("is already served by this process")) << reason;
    // A server created afterwards clears the reason.
    linktest::ServerPtr other = StartServer(UniqueName("other"), 4096, 1);
    EXPECT_STREQ("", QuorvexServerLastError(nullptr));
    // The refused server took nothing from the first.
    NamedPipeChannel channel;
    EXPECT_TRUE(ConnectClient(channel, name, first.get(), 1));
}

// Whoever may open the objects, a host of the server's own user attaches,
// also to instances made after the change.
TEST(CameraServerTest, AccessChangesKeepTheServersOwnUserAttaching) {
    const std::string name = UniqueName("access");
    linktest::ServerPtr server = StartServer(name, 4096, 2);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 32, 8, 1));
    EXPECT_EQ(-1, QuorvexServerSetAccess(server.get(), 7));
    EXPECT_NE(std::string::npos, std::string(QuorvexServerLastError(server.get())).find("unknown access 7"));
    // Linux has no other users' hosts to admit: every user has names of
    // their own.
    if (QuorvexServerSetAccess(server.get(), QUORVEX_ACCESS_ALL_LOCAL_USERS) != 0) {
        EXPECT_NE(std::string::npos, std::string(QuorvexServerLastError(server.get())).find("not supported here"))
            << QuorvexServerLastError(server.get());
    }
    for (int round = 0; round < 2; ++round) {
        NamedPipeChannel first;
        NamedPipeChannel second;
        ASSERT_TRUE(ConnectClient(first, name, server.get(), 1)) << "round " << round;
        ASSERT_TRUE(ConnectClient(second, name, server.get(), 2)) << "round " << round;
        DimensionsBlock dimensions{};
        ASSERT_TRUE(AskDimensions(second, dimensions)) << "round " << round;
        EXPECT_EQ(32, dimensions.width);
        EXPECT_EQ(0, QuorvexServerSetAccess(server.get(), QUORVEX_ACCESS_OWN_USER));
        // The next round meets fresh instances, made with the access now set.
        EXPECT_EQ(2, QuorvexServerDropClients(server.get()));
    }
}

TEST(CameraServerTest, CallsOnNoServerAreRefused) {
    const char raw[kMessageSize] = {};
    EXPECT_EQ(-1, QuorvexServerSetDimensions(nullptr, 1, 1, 1));
    EXPECT_EQ(-1, QuorvexServerPublishFrame(nullptr, raw, 1));
    EXPECT_EQ(-1, QuorvexServerSendStop(nullptr));
    EXPECT_EQ(-1, QuorvexServerClientCount(nullptr));
    EXPECT_EQ(-1, QuorvexServerSendRaw(nullptr, raw, sizeof raw));
    EXPECT_EQ(-1, QuorvexServerDropClients(nullptr));
    EXPECT_EQ(-1, QuorvexServerSetAccess(nullptr, QUORVEX_ACCESS_OWN_USER));
    QuorvexServerDestroy(nullptr);
}

TEST(CameraServerTest, RawMessagesOfOddSizesAreRefused) {
    const std::string name = UniqueName("raw");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    const char raw[65] = {};
    EXPECT_EQ(-1, QuorvexServerSendRaw(server.get(), raw, 0));
    EXPECT_EQ(-1, QuorvexServerSendRaw(server.get(), raw, 65));
    EXPECT_EQ(-1, QuorvexServerSendRaw(server.get(), nullptr, 12));
    EXPECT_EQ(0, QuorvexServerSendRaw(server.get(), raw, 64));
}

TEST(CameraServerTest, DimensionsRequestIsAnsweredEveryTime) {
    const std::string name = UniqueName("answer");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 640, 480, 3));
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    for (int i = 0; i < 3; ++i) {
        DimensionsBlock dimensions{};
        ASSERT_TRUE(AskDimensions(channel, dimensions)) << "request " << i;
        EXPECT_EQ(640, dimensions.width);
        EXPECT_EQ(480, dimensions.height);
        EXPECT_EQ(3, dimensions.bytesPerPixel);
    }
    MessageHeader extra{};
    EXPECT_TRUE(NothingArrives(channel, &extra, kQuietMs));
    channel.Close();
}

TEST(CameraServerTest, RequestBeforeAnyDimensionsIsAnsweredBySetDimensions) {
    const std::string name = UniqueName("early");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    static const MessageHeader request{HeaderMagic, Dimensions, 0};
    channel.BeginWrite(&request, sizeof request);
    MessageHeader header{};
    ASSERT_TRUE(NothingArrives(channel, &header, kQuietMs));
    channel.Close();

    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    channel.BeginWrite(&request, sizeof request);
    Sleep(kQuietMs);
    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), 8, 6, 4));
    ASSERT_TRUE(ReadMessage(channel, &header));
    EXPECT_EQ(Dimensions, header.type);
    DimensionsBlock dimensions{};
    ASSERT_TRUE(ReadMessage(channel, &dimensions));
    EXPECT_EQ(8, dimensions.width);
    EXPECT_EQ(6, dimensions.height);
    EXPECT_EQ(4, dimensions.bytesPerPixel);
    EXPECT_TRUE(NothingArrives(channel, &header, kQuietMs)) << "the early request was answered twice";
    channel.Close();
}

TEST(CameraServerTest, OtherClientMessagesAreIgnored) {
    const std::string name = UniqueName("ignore");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(0, QuorvexServerSetDimensions(server.get(), 2, 2, 1));
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));

    // An unknown type, a short message, and a request inside a longer one.
    static const MessageHeader unknown{HeaderMagic, ImageReady, 0};
    static const MessageHeader shortRequest{HeaderMagic, Dimensions, 0};
    static const MessageHeader longRequest[2] = {{HeaderMagic, Dimensions, 0}, {HeaderMagic, Dimensions, 0}};
    channel.BeginWrite(&unknown, sizeof unknown);
    channel.BeginWrite(&shortRequest, 8);
    channel.BeginWrite(longRequest, sizeof longRequest);
    MessageHeader header{};
    ASSERT_TRUE(NothingArrives(channel, &header, kQuietMs));
    channel.Close();

    // The client is still served afterwards.
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    DimensionsBlock dimensions{};
    EXPECT_TRUE(AskDimensions(channel, dimensions));
}

TEST(CameraServerTest, SetDimensionsReachesEveryClient) {
    const std::string name = UniqueName("everyone");
    linktest::ServerPtr server = StartServer(name, 4096, 3);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel first;
    NamedPipeChannel second;
    ASSERT_TRUE(ConnectClient(first, name, server.get(), 1));
    ASSERT_TRUE(ConnectClient(second, name, server.get(), 2));
    EXPECT_EQ(2, QuorvexServerClientCount(server.get()));
    ASSERT_EQ(2, QuorvexServerSetDimensions(server.get(), 1280, 1024, 1));
    for (NamedPipeChannel* channel : {&first, &second}) {
        MessageHeader header{};
        ASSERT_TRUE(ReadMessage(*channel, &header));
        EXPECT_EQ(Dimensions, header.type);
        EXPECT_EQ(HeaderMagic, header.magic);
        DimensionsBlock dimensions{};
        ASSERT_TRUE(ReadMessage(*channel, &dimensions));
        EXPECT_EQ(1280, dimensions.width);
        EXPECT_EQ(1024, dimensions.height);
        EXPECT_EQ(1, dimensions.bytesPerPixel);
    }
}

TEST(CameraServerTest, StopIsDelivered) {
    const std::string name = UniqueName("stop");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    ASSERT_EQ(1, QuorvexServerSendStop(server.get()));
    MessageHeader header{};
    ASSERT_TRUE(ReadMessage(channel, &header));
    EXPECT_EQ(Stop, header.type);
    EXPECT_EQ(HeaderMagic, header.magic);
}

TEST(CameraServerTest, FrameLargerThanTheSegmentIsRefused) {
    const std::string name = UniqueName("large");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    NamedPipeChannel channel;
    ASSERT_TRUE(ConnectClient(channel, name, server.get(), 1));
    ASSERT_EQ(1, QuorvexServerSetDimensions(server.get(), 64, 64, 1));
    DimensionsBlock dimensions{};
    ASSERT_TRUE(linktest::ReceiveDimensions(channel, dimensions));
    const std::vector<uint8_t> frame = Pattern(4097, 1);
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), frame.data(), 4097));
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), nullptr, 1));
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), frame.data(), -1));
    MessageHeader header{};
    HANDLE pending = nullptr;
    ASSERT_TRUE(NothingArrives(channel, &header, kQuietMs, &pending));
    EXPECT_EQ(1, QuorvexServerPublishFrame(server.get(), frame.data(), 4096));
    ASSERT_TRUE(linktest::FinishRead(channel, pending));
    EXPECT_EQ(ImageReady, header.type);
    EXPECT_EQ(1, header.param) << "refused frames are not numbered";
}

TEST(CameraServerTest, PublishGivesUpOnAMutexThatIsNeverReleased) {
    const std::string name = UniqueName("stuck");
    linktest::ServerPtr server = StartServer(name, 4096, 1);
    ASSERT_NE(server, nullptr);
    platform::UniqueEvent held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    platform::UniqueEvent release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        platform::UniqueMutex mutex(CreateMutexA(nullptr, FALSE, (name + "Mutex").c_str()));
        WaitForSingleObject(mutex.get(), kWaitMs);
        SetEvent(held.get());
        WaitForSingleObject(release.get(), 4 * kWaitMs);
        ReleaseMutex(mutex.get());
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held.get(), kWaitMs));
    const std::vector<uint8_t> frame = Pattern(16, 1);
    const DWORD start = linktest::Now();
    EXPECT_EQ(-1, QuorvexServerPublishFrame(server.get(), frame.data(), 16));
    const DWORD elapsed = linktest::Now() - start;
    SetEvent(release.get());
    holder.join();
    EXPECT_GE(elapsed, 1500u);
    EXPECT_LT(elapsed, 4 * kWaitMs);
    EXPECT_EQ(0, QuorvexServerPublishFrame(server.get(), frame.data(), 16));
}

}  // namespace
