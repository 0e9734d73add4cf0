/* The driver's nineteen exports, each named once. QUORVEX_EXPORTS(X) applies
 * X to every name, in this order; the module-definition file, the Linux
 * version script, the export check and the hosts' loaders are all made from
 * this list (CMake reads the X(...) lines of this file). */
#ifndef QUORVEX_EXPORTS_H
#define QUORVEX_EXPORTS_H

#define QUORVEX_EXPORTS(X)        \
    X(initialize)                 \
    X(finalize)                   \
    X(setSystemPath)              \
    X(setDebugMsgProc)            \
    X(getCVLMaxNoOfGrabbers)      \
    X(getCVLMaxNoOfPorts)         \
    X(getCVLNoOfSupportedCameras) \
    X(getCVLCameraConfigNames)    \
    X(configureCamera)            \
    X(openCVLPort)                \
    X(closeCVLPort)               \
    X(doCVLGrab)                  \
    X(getCVLGrabRow)              \
    X(setCompleteCallback)        \
    X(setCmdCallback)             \
    X(getProperty)                \
    X(getPropertyRange)           \
    X(setProperty)                \
    X(setHWTrigger)

#endif /* QUORVEX_EXPORTS_H */
