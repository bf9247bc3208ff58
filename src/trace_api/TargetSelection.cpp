// Target selection, run and release.
#include <cstdlib>

#include "DbgDev.h"
#include "InterfaceText.h"

extern "C" DRAVIK_API int DravikCloseDevice(void) {
    ResetLog();
    dravik::SetText(g_currentStep, "DravikCloseDevice - Called");
    std::free(g_currentDevice);
    g_currentDevice = nullptr;
    if (g_dev == nullptr) {
        dravik::SetText(g_warningMsg, "No device connected");
        return DRAVIK_IGNORED;
    }
    g_dev->CloseDevice(0);
    const int s = g_dev->CloseDravik();
    if (s != DBGDEV_OK) {
        dravik::SetText(g_warningMsg, "Unable to close dravik, status: %d", s);
    }
    delete g_dev;  // the destructor closes again and releases the driver library
    g_dev = nullptr;
    return DRAVIK_OK;
}
