/* Quorvex camera-server library: the server end of the link that the Quorvex
 * camera driver attaches to.
 *
 * A server is created for a share name S. It creates
 *   - the message-type pipe "\\.\pipe\" + S, with up to maxClients instances,
 *     so that that many driver cameras (in one host or several) can attach;
 *     clients on other machines are refused;
 *   - the shared image segment, a file mapping named S of segmentBytes bytes,
 *     which bounds the largest frame the server can publish;
 *   - the mutex S + "Mutex" that guards the frame bytes.
 * S is narrow text of the system: on Windows the ANSI code page, in which
 * the driver reads a camera's share name from Quorvex.ini (and the host
 * library writes it there).
 * Only the user who creates the server (and on Windows the system) may open
 * them, unless QuorvexServerSetAccess admits every local user.
 * A background thread accepts clients, answers their dimensions requests
 * with the current dimensions and drops clients that go away, so that their
 * pipe instances listen again. Requests that come before the first
 * QuorvexServerSetDimensions stay unanswered: that call reaches every
 * attached client anyway.
 *
 * Every function may be called from any thread, except that
 * QuorvexServerDestroy must be the last call on a server. Functions that send
 * to the clients return the number of clients that received the message, or
 * -1 when the call was refused. Texts are narrow and NUL-terminated; every
 * int is a signed 32-bit value. */
#ifndef QUORVEX_SERVER_H
#define QUORVEX_SERVER_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QUORVEX_SERVER_CALL __cdecl
#else
#define QUORVEX_SERVER_CALL
#endif

/* The most clients one server serves at once. */
#define QUORVEX_SERVER_MAX_CLIENTS 8

typedef struct QuorvexServer QuorvexServer;

/* Creates the pipe, the segment and the mutex and starts serving. maxClients
 * is 1 to QUORVEX_SERVER_MAX_CLIENTS. Returns null when an argument is out of
 * range, when another server already uses the share name (the reason says
 * whether it is one of this process), when one of the names is held by
 * another user (on Linux also a name that others may open, or a link: "the
 * name ... is held by another user"), or when the system refuses an object;
 * then QuorvexServerLastError(NULL) says why, ending a failure of the system
 * with "(system error N: its text)". */
QuorvexServer* QUORVEX_SERVER_CALL QuorvexServerCreate(const char* shareName, int segmentBytes, int maxClients);

/* Stops serving, disconnects every client and releases everything. */
void QUORVEX_SERVER_CALL QuorvexServerDestroy(QuorvexServer* server);

/* Stores the dimensions and sends them to every attached client: a
 * Dimensions header and a dimensions block, as two 12-byte messages. Any
 * values are passed on as they are. */
int QUORVEX_SERVER_CALL QuorvexServerSetDimensions(QuorvexServer* server, int width, int height, int bytesPerPixel);

/* Copies byteCount bytes into the segment from its start while holding the
 * mutex, then sends an ImageReady header (param: the frame's sequence
 * number, from 1) to every attached client that has been sent the
 * dimensions: a client that has not would not know the frame's size. Refused (-1) when the frame is
 * larger than the segment or when a client keeps the mutex for more than two
 * seconds.
 *
 * Every published frame takes the server's next number (1, 2, 3, ..., as an
 * unsigned 32-bit value that wraps past 4294967295 to 1) and a capture time,
 * which hosts read with the frame (a number left out tells them a frame was
 * lost). The plain publish calls stamp a frame with the time they are
 * called; the ...At calls take the time the source captured it, on the
 * clock of QuorvexServerClockMicroseconds (0 or less: the time of the
 * call). */
int QUORVEX_SERVER_CALL QuorvexServerPublishFrame(QuorvexServer* server, const void* pixels, int byteCount);

/* QuorvexServerPublishFrame with the frame's capture time. */
int QUORVEX_SERVER_CALL QuorvexServerPublishFrameAt(QuorvexServer* server, const void* pixels, int byteCount,
                                                    long long captureMicroseconds);

/* Leaves the next `count` frame numbers unused, for frames the source lost
 * before they reached the server, so that hosts count them lost. Returns 0,
 * or -1 for a negative count. */
int QUORVEX_SERVER_CALL QuorvexServerSkipFrames(QuorvexServer* server, int count);

/* The clock of capture times: the system's real-time clock in microseconds
 * since 1970-01-01 00:00 UTC, as hosts on the same machine read it. */
long long QUORVEX_SERVER_CALL QuorvexServerClockMicroseconds(void);

/* Who may open the server's pipe, segment and mutex. */
#define QUORVEX_ACCESS_OWN_USER 0        /* the creating user only: the default */
#define QUORVEX_ACCESS_ALL_LOCAL_USERS 1 /* every user of this machine (Windows) */

/* Chooses who may open the server's objects, from now on and for every pipe
 * instance it makes later: hosts that run under another account of the same
 * Windows machine need QUORVEX_ACCESS_ALL_LOCAL_USERS. Returns 0, or -1 for an
 * unknown access, when the system refuses the change, or for
 * QUORVEX_ACCESS_ALL_LOCAL_USERS on Linux, where every user has names of
 * their own that other users never meet. */
int QUORVEX_SERVER_CALL QuorvexServerSetAccess(QuorvexServer* server, int access);

/* Pixel layouts that QuorvexServerPublishFrameEx accepts. */
#define QUORVEX_FORMAT_GRAY8 1  /* 1 byte per pixel */
#define QUORVEX_FORMAT_RGB24 2  /* 3 bytes per pixel: R, G, B */
#define QUORVEX_FORMAT_BGR24 3  /* 3 bytes per pixel: B, G, R */
#define QUORVEX_FORMAT_RGBA32 4 /* 4 bytes per pixel: R, G, B, A */
#define QUORVEX_FORMAT_BGRA32 5 /* 4 bytes per pixel: B, G, R, A */

/* The channel order that hosts receive for 3 and 4 bytes per pixel. */
#define QUORVEX_ORDER_RGB 0 /* R, G, B(, A): the default */
#define QUORVEX_ORDER_BGR 1 /* B, G, R(, A) */

/* Chooses the channel order that hosts receive for 3 and 4 bytes per pixel
 * from the next QuorvexServerPublishFrameEx on. Returns 0, or -1 for an
 * unknown order. */
int QUORVEX_SERVER_CALL QuorvexServerSetChannelOrder(QuorvexServer* server, int order);

/* Publishes a frame of width x height pixels in `format`, whose rows start
 * strideBytes apart in `pixels`: converts it in one pass into the segment
 * (rows back to back, in the server's channel order) while holding the
 * mutex, then sends ImageReady as QuorvexServerPublishFrame does. A size or
 * bytes per pixel that differs from the current dimensions sends the new
 * dimensions first. Refused (-1, nothing sent, the segment unchanged) for a
 * null pixel pointer, a size that is not positive, a stride below one row,
 * an unknown format or a frame larger than the segment; then
 * QuorvexServerLastError says why. */
int QUORVEX_SERVER_CALL QuorvexServerPublishFrameEx(QuorvexServer* server, const void* pixels, int width, int height,
                                                    int strideBytes, int format);

/* QuorvexServerPublishFrameEx with the frame's capture time. */
int QUORVEX_SERVER_CALL QuorvexServerPublishFrameExAt(QuorvexServer* server, const void* pixels, int width, int height,
                                                      int strideBytes, int format, long long captureMicroseconds);

/* The reason of the last call on this server that was refused, or "" when
 * none was. The text stays valid until the next call on the server. With a
 * null server: why the calling thread's last QuorvexServerCreate returned
 * null ("" when none did), valid until its next QuorvexServerCreate. */
const char* QUORVEX_SERVER_CALL QuorvexServerLastError(QuorvexServer* server);

/* Sends a Stop header: every attached client ends its link. */
int QUORVEX_SERVER_CALL QuorvexServerSendStop(QuorvexServer* server);

/* The number of clients whose pipe is connected now. */
int QUORVEX_SERVER_CALL QuorvexServerClientCount(QuorvexServer* server);

/* Waits until at least `count` hosts can take a frame: hosts that have been
 * sent the dimensions (the answer to the request a driver camera sends as
 * soon as it connects), or, while no dimensions have been set, hosts whose
 * pipe is connected. A frame published after this returns reaches them:
 * the driver holds a frame that comes while its camera is still being
 * opened until the host has set its callback. Returns 1 when they can, 0
 * when timeoutMs passed first. */
int QUORVEX_SERVER_CALL QuorvexServerWaitForClients(QuorvexServer* server, int count, int timeoutMs);

/* For testing clients against a faulty server. */

/* Sends a header with any type and param. */
int QUORVEX_SERVER_CALL QuorvexServerSendHeader(QuorvexServer* server, int type, int param);

/* Sends byteCount bytes (1 to 64) as one message, whatever they hold. */
int QUORVEX_SERVER_CALL QuorvexServerSendRaw(QuorvexServer* server, const void* bytes, int byteCount);

/* Closes every pipe instance, as a server that crashes does, so that its
 * clients find the pipe broken; then listens again with fresh instances.
 * Returns the number of clients dropped. */
int QUORVEX_SERVER_CALL QuorvexServerDropClients(QuorvexServer* server);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_SERVER_H */
