#include "gst_test_support.h"

#include <gio/gio.h>
#include <glib.h>

#include <sstream>

#include "platform/process.h"

namespace gsttest {
namespace {

// The children find the built plugin, and GStreamer's registry of this
// build stays inside the build.
class PluginEnvironment : public testing::Environment {
public:
    void SetUp() override {
        g_setenv("GST_PLUGIN_PATH", QUORVEX_GST_PLUGIN_DIR, TRUE);
        g_setenv("GST_REGISTRY", QUORVEX_GST_REGISTRY, TRUE);
    }
};

const testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new PluginEnvironment);

}  // namespace

std::vector<std::string> LaunchArgs(const std::string& pipeline) {
    std::vector<std::string> args;
    std::istringstream words(pipeline);
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    return args;
}

std::unique_ptr<toolstest::ToolRun> StartPipeline(const testsupport::TempDir& dir, const std::string& outputName,
                                                  const std::string& pipeline) {
    auto run = std::make_unique<toolstest::ToolRun>(dir, outputName);
    EXPECT_TRUE(run->Start(QUORVEX_GST_LAUNCH, LaunchArgs(pipeline)));
    return run;
}

testing::AssertionResult RunPipeline(const testsupport::TempDir& dir, const std::string& outputName,
                                     const std::string& pipeline) {
    auto run = StartPipeline(dir, outputName, pipeline);
    int exitCode = -1;
    const testing::AssertionResult finished = run->Finish(exitCode, kPipelineMs);
    if (!finished) {
        return finished;
    }
    if (exitCode != 0) {
        return testing::AssertionFailure() << "gst-launch-1.0 " << pipeline << "\nended with " << exitCode << ":\n"
                                           << run->Output();
    }
    return testing::AssertionSuccess();
}

bool HasElement(const std::string& element) {
    testsupport::TempDir dir;
    toolstest::ToolRun run(dir, "inspect.txt");
    int exitCode = -1;
    return run.Start(QUORVEX_GST_INSPECT, {element}) && run.Finish(exitCode) && exitCode == 0;
}

int FreeUdpPort() {
    GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, nullptr);
    if (socket == nullptr) {
        return -1;
    }
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* any = g_inet_socket_address_new(loopback, 0);
    int port = -1;
    if (g_socket_bind(socket, any, FALSE, nullptr)) {
        GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
        if (bound != nullptr) {
            port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
            g_object_unref(bound);
        }
    }
    g_object_unref(any);
    g_object_unref(loopback);
    g_object_unref(socket);
    return port;
}

}  // namespace gsttest
