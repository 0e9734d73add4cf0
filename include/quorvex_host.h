/* Quorvex host library: what every host of the Quorvex camera driver needs,
 * done once. It finds and loads the driver, writes a camera's settings into
 * Quorvex.ini as the driver reads them, opens the camera and hands its frames
 * over through a queue, laid out as the caller asks.
 *
 * libquorvex_host.so (Linux) or quorvex_host.dll (Windows). It reaches the
 * driver only through the driver's nineteen exports, loaded at run time.
 * All functions use the C calling convention; texts are NUL-terminated.
 * A function that fails leaves a sentence saying why in QuorvexHostLastError,
 * on the calling thread.
 *
 * Texts are UTF-8, both ways: names and paths given, and the paths, share
 * names, log lines and sentences the library gives back. The driver reads
 * Quorvex.ini and takes paths in the system's narrow encoding: on Windows the
 * ANSI code page, elsewhere bytes as they are. The library converts, and
 * refuses with a sentence, writing nothing, a text that has no exact form in
 * that encoding. A camera server names its share in the same encoding: on
 * Windows the server library (quorvex_server.h) and quorvex-server take the
 * share name in the ANSI code page, as the driver reads it from the file.
 *
 * One driver per process: the driver keeps one settings folder for the whole
 * process, so every host object of a process shares one folder. A second host
 * object with another folder is refused while the first lives. */
#ifndef QUORVEX_HOST_H
#define QUORVEX_HOST_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QUORVEX_HOST_CALL __cdecl
#else
#define QUORVEX_HOST_CALL
#endif

typedef struct QuorvexHost QuorvexHost;
typedef struct QuorvexHostCamera QuorvexHostCamera;

/* Receives each of the driver's log lines whole: its time stamp, then its
 * text. Called on any thread of the driver, one line at a time. */
typedef void(QUORVEX_HOST_CALL* QuorvexHostLogProc)(void* context, const char* line);

/* The sentence that says why the calling thread's last failed call failed
 * (or, after a read, why no frame came); "" before any. Valid until the
 * thread's next call. */
const char* QUORVEX_HOST_CALL QuorvexHostLastError(void);

/* Loads the driver and initialises it with `settingsFolder` (the folder that
 * holds Quorvex.ini). `driverPath` names the driver's file; NULL or "" looks
 * in this order: the folder in QUORVEX_LIB_DIR, the folder of this library,
 * ../lib beside a bin folder holding this library, and the install prefix.
 * NULL on failure: a driver that cannot be loaded is reported with every
 * place tried and the system's words for each. */
QuorvexHost* QUORVEX_HOST_CALL QuorvexHostOpen(const char* driverPath, const char* settingsFolder);
/* Closes the host's cameras and finalises the driver once. NULL is ignored. */
void QUORVEX_HOST_CALL QuorvexHostClose(QuorvexHost* host);

/* The driver file loaded, and the settings file's full name. */
const char* QUORVEX_HOST_CALL QuorvexHostDriverPath(const QuorvexHost* host);
const char* QUORVEX_HOST_CALL QuorvexHostSettingsPath(const QuorvexHost* host);

/* Sends the driver's log lines to `proc` (NULL: nowhere). The driver has one
 * log for the process: the last call of any host decides. */
void QUORVEX_HOST_CALL QuorvexHostSetLog(QuorvexHost* host, QuorvexHostLogProc proc, void* context);

/* The driver's cameras ("Camera 1" ...). NULL for an index out of range. */
int QUORVEX_HOST_CALL QuorvexHostCameraCount(const QuorvexHost* host);
const char* QUORVEX_HOST_CALL QuorvexHostCameraName(const QuorvexHost* host, int index);

/* A value that leaves a number setting as the file has it. */
#define QUORVEX_HOST_KEEP (-2147483647 - 1)

/* The settings of one camera to write; NULL and QUORVEX_HOST_KEEP leave a
 * key as it is. */
typedef struct QuorvexHostSettings {
    const char* share;       /* the camera server's share name (PipeName) */
    int logLevel;            /* LogLevel, brought into 0 ... 4 */
    int connectionTimeoutMs; /* ConnectionTimeout, brought into 100 ... 10000 */
} QuorvexHostSettings;

/* Writes the given keys into the camera's section of Quorvex.ini, changing
 * nothing else in the file; the file is replaced whole, under a lock that
 * every writer through this library respects, in this and other processes.
 * Refused, with nothing written, for a camera the driver does not have, for
 * a camera open in this process and for a share name the driver would not
 * read back as written. 1 on success, 0 on failure. */
int QUORVEX_HOST_CALL QuorvexHostWriteSettings(QuorvexHost* host, const char* camera,
                                               const QuorvexHostSettings* settings);

/* Shows the driver's settings dialog for the camera (on the calling thread,
 * modal; `parentWindow` is an HWND on Windows, may be NULL). 1 when the user
 * confirmed it, 0 when not, -1 for a camera the driver does not have. */
int QUORVEX_HOST_CALL QuorvexHostConfigure(QuorvexHost* host, const char* camera, void* parentWindow);

typedef struct QuorvexHostCameraOptions {
    int port;         /* the driver's port number for the camera; default 1 */
    int queueDepth;   /* frames kept until read, the newest winning; default 1 */
    int rowAlignment; /* each row starts at a multiple of this many bytes
                         (1, 2, 4, 8 ...); default 1: rows packed */
} QuorvexHostCameraOptions;

/* Opens the camera (options NULL: the defaults). Refused while the camera is
 * open through any host of this process, on any port, and for a port that
 * another camera holds. The open waits up to the camera's ConnectionTimeout
 * for its server. */
QuorvexHostCamera* QUORVEX_HOST_CALL QuorvexHostCameraOpen(QuorvexHost* host, const char* camera,
                                                           const QuorvexHostCameraOptions* options);
/* Closes the camera; frames not released become invalid. NULL is ignored. */
void QUORVEX_HOST_CALL QuorvexHostCameraClose(QuorvexHostCamera* camera);

/* The frame size the driver answered at the open; 0, 0 when its server had
 * not answered by then. */
void QUORVEX_HOST_CALL QuorvexHostCameraOpenedSize(const QuorvexHostCamera* camera, int* width, int* height);
/* The camera's share name as the driver read it at the open. */
const char* QUORVEX_HOST_CALL QuorvexHostCameraShare(const QuorvexHostCamera* camera);
/* One of the driver's properties of the camera, as its getProperty answers
 * it now: "Width", "Height", "PixelSize" (bits), "LinkState" ... 1 with
 * `value` set, 0 when the driver does not answer the name. */
int QUORVEX_HOST_CALL QuorvexHostCameraProperty(const QuorvexHostCamera* camera, const char* name, int* value);

typedef struct QuorvexHostFrame {
    const unsigned char* pixels; /* rowPitch * height bytes */
    int width;
    int height;
    int bytesPerPixel;
    int rowPitch;        /* bytes from one row's start to the next */
    long long number;    /* 1 for the first frame the camera received */
    long long arrivedUs; /* the system's steady clock, microseconds */
    /* From a server that numbers its frames (every server of the Quorvex
     * SDK does); 0 in each from one that does not. */
    long long serverNumber; /* the server's number: 1, 2, 3 ... (after 4294967295: 1) */
    long long captureUs;    /* when the server's source captured the frame: the
                               system's real-time clock, microseconds since
                               1970-01-01 00:00 UTC */
    long long gap;          /* server numbers left out just before this frame:
                               frames lost between the server and this camera */
    /* When the camera took the frame, on the clock of captureUs:
     * arrivedRealUs - captureUs is the frame's age on arrival. */
    long long arrivedRealUs;
} QuorvexHostFrame;

/* What a read found. */
#define QUORVEX_HOST_FRAME 0       /* a frame, in `frame` until released */
#define QUORVEX_HOST_NOTHING_YET 1 /* no frame within the time-out */
#define QUORVEX_HOST_NO_SERVER 2   /* no frame, and no server has answered on the share yet */
#define QUORVEX_HOST_ENDED 3       /* the stream ended; QuorvexHostLastError says how */
#define QUORVEX_HOST_FAILED (-1)   /* bad arguments */

/* Takes the oldest frame waiting, waiting up to `timeoutMs` (0: not at all,
 * -1: without limit) for one. For every answer but a frame,
 * QuorvexHostLastError says what happened, naming the share. */
int QUORVEX_HOST_CALL QuorvexHostCameraRead(QuorvexHostCamera* camera, int timeoutMs, QuorvexHostFrame* frame);
/* What the camera's link is doing, as the driver tells it, or -1 when the
 * driver does not say. After a read answered QUORVEX_HOST_ENDED it tells a
 * server's Stop from an end the driver chose. */
#define QUORVEX_HOST_LINK_NO_SERVER 0 /* no server yet, or the server lost and looked for again */
#define QUORVEX_HOST_LINK_CONNECTED 1
#define QUORVEX_HOST_LINK_STOPPED 2 /* ended by the server's Stop */
#define QUORVEX_HOST_LINK_REFUSED 3 /* ended by the driver on a frame it could not take */
int QUORVEX_HOST_CALL QuorvexHostCameraLinkState(const QuorvexHostCamera* camera);

/* Gives a frame's memory back to the camera. */
void QUORVEX_HOST_CALL QuorvexHostCameraRelease(QuorvexHostCamera* camera, QuorvexHostFrame* frame);

typedef struct QuorvexHostCounters {
    long long received;   /* frames taken from the driver */
    long long replaced;   /* frames dropped from a full queue before they were read */
    long long resets;     /* size changes the driver announced */
    long long incomplete; /* frames whose rows the driver no longer had */
    long long lost;       /* frames the server numbered that never reached the
                             camera: the sum of the frames' gaps */
    long long repeated;   /* frames the driver gave again (the same server
                             number twice in a row), not queued again */
} QuorvexHostCounters;

void QUORVEX_HOST_CALL QuorvexHostCameraCounters(const QuorvexHostCamera* camera, QuorvexHostCounters* counters);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_HOST_H */
