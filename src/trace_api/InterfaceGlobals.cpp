// The interface's process-wide state, the common prologue and the two message copy-out functions.
#include <cstring>
#include <new>

#include "DbgDev.h"
#include "InterfaceText.h"

DbgDev* g_dev = nullptr;
char* g_currentDevice = nullptr;
char g_currentStep[DRAVIK_TEXT_SIZE];
char g_warningMsg[DRAVIK_TEXT_SIZE];
char g_errorMsg[DRAVIK_TEXT_SIZE];
char g_dummyBuffer[DRAVIK_TRACE_BUFFER_SIZE];

void ResetLog() {
    std::memset(g_currentStep, 0, sizeof g_currentStep);
    std::memset(g_warningMsg, 0, sizeof g_warningMsg);
    std::memset(g_errorMsg, 0, sizeof g_errorMsg);
}

DbgDev* GetDbgDev() {
    if (g_dev == nullptr) {
        // A non-throwing allocation: a failure must surface as the null result, never as an
        // exception.
        g_dev = new (std::nothrow) DbgDev(DRAVIK_USB_INTERFACE);
        if (g_dev == nullptr) {
            dravik::SetText(g_errorMsg, "Unable to create DbgDev instance");
        }
    }
    return g_dev;
}

namespace dravik {

DbgDev* BeginCall(const char* functionName) {
    ResetLog();
    SetText(g_currentStep, "%s - Called", functionName);
    return GetDbgDev();
}

}  // namespace dravik

extern "C" DRAVIK_API int DravikLastError(char* message, int* length) {
    return dravik::CopyOutText(g_errorMsg, message, length);
}

extern "C" DRAVIK_API int DravikLastWarning(char* message, int* length) {
    return dravik::CopyOutText(g_warningMsg, message, length);
}
