/* A small host program: lists the probes the driver library sees, with the library's texts. */
#include <stdio.h>

#include "DravikTrace.h"

int main(void) {
    char list[4096];
    int size = (int)sizeof list;
    int count = 0;
    int result = DravikEnumerateDevices(NULL, list, &size, &count);
    if (result > 0) {
        char text[DRAVIK_TEXT_SIZE];
        int length = (int)sizeof text - 1;
        DravikLastError(text, &length);
        fprintf(stderr, "DravikEnumerateDevices failed (%d): %s\n", result, text);
        return 1;
    }
    printf("%d probe(s):\n%s", count, count > 0 ? list : "");
    if (result < 0) {
        char text[DRAVIK_TEXT_SIZE];
        int length = (int)sizeof text - 1;
        DravikLastWarning(text, &length);
        printf("%d probe(s) left out: %s\n", -result, text);
    }
    DravikCloseDevice();
    return 0;
}
