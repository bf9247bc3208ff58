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

namespace {

int CopyOut(const char (&text)[DRAVIK_TEXT_SIZE], char* message, int* length) {
    if (length == nullptr) {
        return DRAVIK_BAD_ARGUMENT;
    }
    if (text[0] == '\0') {
        *length = 0;
        return DRAVIK_NO_MESSAGE;
    }
    // A negative capacity has no sensible meaning: refuse it rather than guess.
    if (*length < 0 || message == nullptr) {
        return DRAVIK_BAD_ARGUMENT;
    }
    const int n = static_cast<int>(strnlen(text, DRAVIK_TEXT_SIZE));
    if (n + 1 < *length) {
        std::memcpy(message, text, static_cast<size_t>(n) + 1);
        *length = n;
        return DRAVIK_OK;
    }
    // Cut: the first *length bytes (never more than the text holds) and a terminator after them.
    const int copied = *length < DRAVIK_TEXT_SIZE ? *length : DRAVIK_TEXT_SIZE;
    std::memcpy(message, text, static_cast<size_t>(copied));
    for (int i = copied; i <= *length; ++i) {
        message[i] = '\0';
    }
    return DRAVIK_IGNORED;
}

}  // namespace

extern "C" DRAVIK_API int DravikLastError(char* message, int* length) {
    return CopyOut(g_errorMsg, message, length);
}

extern "C" DRAVIK_API int DravikLastWarning(char* message, int* length) {
    return CopyOut(g_warningMsg, message, length);
}
