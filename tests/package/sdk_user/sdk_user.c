/* A program outside the project's tree, built against an installed SDK: it
 * serves frames with the camera-server library and reads them back through
 * the installed driver, loaded as a host loads it.
 *
 * Usage: sdk_user DRIVER_LIBRARY SYSTEM_DIR
 * Prints one line and exits 0 when every frame came back byte-exact. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep under -std=c11 */
#endif
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quorvex_server.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
static Library OpenLibrary(const char* path) {
    return LoadLibraryA(path);
}
static void* Symbol(Library library, const char* name) {
    return (void*)GetProcAddress(library, name);
}
static void Pause(void) {
    Sleep(10);
}
static int ProcessId(void) {
    return (int)GetCurrentProcessId();
}
#define CALLBACK_CALL __cdecl
#else
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
typedef void* Library;
static Library OpenLibrary(const char* path) {
    return dlopen(path, RTLD_NOW);
}
static void* Symbol(Library library, const char* name) {
    return dlsym(library, name);
}
static void Pause(void) {
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, NULL);
}
static int ProcessId(void) {
    return (int)getpid();
}
#define CALLBACK_CALL
#endif

enum { kWidth = 33, kHeight = 17, kStride = kWidth * 3 + 5, kFrames = 3 };

typedef void(CALLBACK_CALL* CompleteCallback)(int, int);
typedef int(CALLBACK_CALL* InitializeFn)(const char*, void*);
typedef int(CALLBACK_CALL* FinalizeFn)(void);
typedef int(CALLBACK_CALL* OpenFn)(int, int, const char*, int*);
typedef int(CALLBACK_CALL* CloseFn)(int, int);
typedef int(CALLBACK_CALL* GrabRowFn)(int, int, void*, int, int, int);
typedef int(CALLBACK_CALL* SetCompleteFn)(int, int, CompleteCallback);

static GrabRowFn grabRow;
static unsigned char received[kHeight][kWidth * 3];
static atomic_int framesReceived;

static void CALLBACK_CALL OnFrame(int grabber, int port) {
    int row;
    (void)grabber;
    for (row = 0; row < kHeight; ++row) {
        grabRow(0, port, received[row], row, 0, kWidth - 1);
    }
    atomic_fetch_add(&framesReceived, 1);
}

static int Fail(const char* what) {
    fprintf(stderr, "sdk_user: %s\n", what);
    return 1;
}

int main(int argc, char** argv) {
    static unsigned char source[kHeight][kStride];
    char share[64], iniPath[1024];
    int dimensions[2] = {-1, -1};
    int frame, row, column, waited;
    FILE* ini;
    Library driver;
    QuorvexServer* server;

    if (argc != 3) {
        return Fail("usage: sdk_user DRIVER_LIBRARY SYSTEM_DIR");
    }
    snprintf(share, sizeof share, "sdk-user-%d", ProcessId());
    snprintf(iniPath, sizeof iniPath, "%s/Quorvex.ini", argv[2]);
    ini = fopen(iniPath, "w");
    if (ini == NULL) {
        return Fail("cannot write Quorvex.ini");
    }
    fprintf(ini, "[Camera 1]\nPipeName=%s\nConnectionTimeout=5000\n", share);
    fclose(ini);

    server = QuorvexServerCreate(share, kWidth * kHeight * 3, 1);
    if (server == NULL || QuorvexServerSetDimensions(server, kWidth, kHeight, 3) < 0) {
        return Fail("cannot create the server");
    }
    driver = OpenLibrary(argv[1]);
    if (driver == NULL) {
        return Fail("cannot load the driver");
    }
    grabRow = (GrabRowFn)Symbol(driver, "getCVLGrabRow");
    if (!((InitializeFn)Symbol(driver, "initialize"))(argv[2], NULL) ||
        !((OpenFn)Symbol(driver, "openCVLPort"))(0, 1, "Camera 1", dimensions)) {
        return Fail("the driver did not open Camera 1");
    }
    if (dimensions[0] != kWidth || dimensions[1] != kHeight) {
        return Fail("the driver did not get the server's dimensions");
    }
    ((SetCompleteFn)Symbol(driver, "setCompleteCallback"))(0, 1, OnFrame);

    for (frame = 1; frame <= kFrames; ++frame) {
        /* BGR in, rows apart: the host must get RGB, rows back to back. */
        for (row = 0; row < kHeight; ++row) {
            for (column = 0; column < kStride; ++column) {
                source[row][column] = (unsigned char)(frame * 31 + row * 7 + column);
            }
        }
        if (QuorvexServerPublishFrameEx(server, source, kWidth, kHeight, kStride, QUORVEX_FORMAT_BGR24) != 1) {
            return Fail(QuorvexServerLastError(server));
        }
        for (waited = 0; framesReceived < frame && waited < 1000; ++waited) {
            Pause();
        }
        if (framesReceived != frame) {
            return Fail("a frame did not arrive");
        }
        for (row = 0; row < kHeight; ++row) {
            for (column = 0; column < kWidth * 3; ++column) {
                const int pixel = column / 3, channel = column % 3;
                if (received[row][column] != source[row][pixel * 3 + 2 - channel]) {
                    return Fail("a frame came back changed");
                }
            }
        }
    }
    ((CloseFn)Symbol(driver, "closeCVLPort"))(0, 1);
    ((FinalizeFn)Symbol(driver, "finalize"))();
    QuorvexServerDestroy(server);
    printf("sdk_user: %d frames of %dx%d byte-exact through the driver\n", kFrames, kWidth, kHeight);
    return 0;
}
