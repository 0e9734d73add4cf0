/* A host program on the installed host library: it must find the installed
 * driver by itself, list its cameras and write a camera's settings into the
 * system folder given. Usage: host_user SYSTEM_DIR */
#include <stdio.h>
#include <string.h>

#include "quorvex_host.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: host_user SYSTEM_DIR\n");
        return 2;
    }
    QuorvexHost* host = QuorvexHostOpen(NULL, argv[1]);
    if (host == NULL) {
        fprintf(stderr, "host_user: %s\n", QuorvexHostLastError());
        return 1;
    }
    const int cameras = QuorvexHostCameraCount(host);
    const QuorvexHostSettings settings = {"Installed Share", 2, QUORVEX_HOST_KEEP};
    const int written = QuorvexHostWriteSettings(host, "Camera 1", &settings);
    printf("host_user: driver %s, %d cameras, settings %s\n", QuorvexHostDriverPath(host), cameras,
           written ? "written" : QuorvexHostLastError());
    QuorvexHostClose(host);
    return cameras == 32 && written ? 0 : 1;
}
