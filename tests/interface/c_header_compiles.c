/* A C host sees the whole trace capture interface through one header. */
#include <stdio.h>
#include <string.h>

#include "DravikTrace.h"

int main(void) {
    int (*functions[])(void) = {DravikCloseDevice, DravikStopSWVRead};
    char text[DRAVIK_TEXT_SIZE];
    int length = (int)sizeof text - 1;
    (void)functions;
    (void)DravikEnumerateDevices;
    (void)DravikSelectDevice;
    (void)DravikGetDeviceStatus;
    (void)DravikRunDevice;
    (void)DravikBlinkDebugger;
    (void)DravikSetupDevice;
    (void)DravikStartSWVRead;
    (void)DravikReadSWVData;
    (void)DravikReadMemory;
    /* Nothing was called yet: no error to copy, and the exported buffers are readable from C. */
    if (DravikLastError(text, &length) != DRAVIK_NO_MESSAGE || length != 0) {
        return 1;
    }
    if (strlen(g_errorMsg) != 0 || g_currentDevice != NULL || sizeof g_dummyBuffer != 4000) {
        return 1;
    }
    puts("c header ok");
    return 0;
}
