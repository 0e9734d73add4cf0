/* Quorvex camera driver: the interface a host application uses.
 *
 * The driver is loaded as Quorvex.dll (32-bit Windows) or libquorvex.so
 * (Linux). All functions use the C calling convention; texts are narrow and
 * NUL-terminated; every int is a signed 32-bit value. */
#ifndef QUORVEX_H
#define QUORVEX_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QUORVEX_CALL __cdecl
#else
#define QUORVEX_CALL
#endif

/* Host procedures, called back by the driver. Results are ignored. */
typedef void(QUORVEX_CALL* CompleteCallback)(int grabberNo, int portNo);
typedef void(QUORVEX_CALL* CmdCallback)(int grabberNo, int portNo, const char* command, const char* argument);
typedef void(QUORVEX_CALL* DebugMsgProc)(const char* text);

/* A window handle of the host (HWND on Windows). */
typedef void* QuorvexWindow;

int QUORVEX_CALL initialize(const char* systemPath, DebugMsgProc proc);
int QUORVEX_CALL finalize(void);
void QUORVEX_CALL setDebugMsgProc(DebugMsgProc proc);
int QUORVEX_CALL setSystemPath(const char* path);
int QUORVEX_CALL getCVLMaxNoOfGrabbers(void);
int QUORVEX_CALL getCVLMaxNoOfPorts(void);
int QUORVEX_CALL getCVLNoOfSupportedCameras(void);
const char** QUORVEX_CALL getCVLCameraConfigNames(void);
int QUORVEX_CALL configureCamera(QuorvexWindow parent, const char* cameraName);
int QUORVEX_CALL openCVLPort(int grabberNo, int portNo, const char* cameraName, int* dimensions);
int QUORVEX_CALL closeCVLPort(int grabberNo, int portNo);
int QUORVEX_CALL doCVLGrab(int grabberNo, int portNo);
int QUORVEX_CALL getCVLGrabRow(int grabberNo, int portNo, void* dest, int row, int first, int last);
int QUORVEX_CALL setCompleteCallback(int grabberNo, int portNo, CompleteCallback cb);
int QUORVEX_CALL setCmdCallback(int grabberNo, int portNo, CmdCallback cb);
int QUORVEX_CALL getProperty(int grabberNo, int portNo, const char* name, int* value);
/* The arguments after portNo are not read. */
int QUORVEX_CALL getPropertyRange(int grabberNo, int portNo, ...);
int QUORVEX_CALL setProperty(int grabberNo, int portNo, ...);
int QUORVEX_CALL setHWTrigger(int grabberNo, int portNo, ...);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_H */
