// The 64-bit side of the cross-bitness test: a camera server on the shared
// server library that publishes steps FIRST to END-1 of the plan, one at a
// time, each once the host has acknowledged the one before.
//
//   cross_server SHARE FIRST END
//
// Exit codes: 0 done; 2 bad arguments or no acknowledgement event; 3 the
// server could not be created; 4 no host attached; 5 a frame was refused or
// reached no host; 6 the host did not acknowledge a frame.
#include <cstdio>
#include <memory>
#include <string>

#include "cross_plan.h"
#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

constexpr int kWaitMs = 30000;
constexpr DWORD kRetryMs = 20;

struct ServerDeleter {
    void operator()(QuorvexServer* server) const { QuorvexServerDestroy(server); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: cross_server SHARE FIRST END\n");
        return 2;
    }
    const std::string share = argv[1];
    const int first = std::stoi(argv[2]);
    const int end = std::stoi(argv[3]);
    std::printf("cross_server: %d-bit, steps %d to %d\n", static_cast<int>(8 * sizeof(void*)), first, end - 1);
    platform::UniqueEvent ack(
        OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, crossplan::AckEventName(share).c_str()));
    if (!ack || first < 0 || end > crossplan::kStepCount) {
        return 2;
    }
    std::unique_ptr<QuorvexServer, ServerDeleter> server(
        QuorvexServerCreate(share.c_str(), crossplan::kSegmentBytes, 1));
    if (!server) {
        return 3;
    }
    if (QuorvexServerWaitForClients(server.get(), 1, kWaitMs) != 1) {
        return 4;
    }
    for (int step = first; step < end; ++step) {
        const sourceimage::SourceImage image = crossplan::Source(step);
        // A host that attached a moment ago may not have been sent the
        // dimensions yet; the frame is published again until it reaches it.
        int reached = 0;
        const DWORD start = GetTickCount();
        while ((reached = sourceimage::Publish(server.get(), image)) == 0 && GetTickCount() - start < kWaitMs) {
            Sleep(kRetryMs);
        }
        if (reached != 1) {
            std::printf("cross_server: step %d reached %d hosts: %s\n", step, reached,
                        QuorvexServerLastError(server.get()));
            return 5;
        }
        if (WaitForSingleObject(ack.get(), kWaitMs) != WAIT_OBJECT_0) {
            std::printf("cross_server: no acknowledgement of step %d\n", step);
            return 6;
        }
    }
    std::printf("cross_server: done\n");
    return 0;
}
