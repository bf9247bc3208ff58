/* The typical trace capture, step by step: list the probes, select one, set up SWO for a 72 MHz
 * trace clock divided by 36 (2 Mbit/s, NRZ, every stimulus port), let the target run, drain the
 * trace for a while, stop and close. Prints the raw bytes in hex and, for a quick look, the payload
 * of stimulus port 0 as text.
 *
 *     trace_capture [serial-number [milliseconds]]
 *
 * Without a serial number the first probe listed is used; the capture lasts 100 ms unless told.
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "DravikTrace.h"

enum {
    kTraceClockHz = 72000000,
    kPrescaler = 36,
    kAllPorts = -1,
    kPollIntervalMs = 10,
    kCaptureCapacity = 65536,
    kSerialCapacity = 128
};

static unsigned char g_capture[kCaptureCapacity];

/* Says what failed, with the step reached and the library's texts. */
static int Report(const char* call, int result) {
    char text[DRAVIK_TEXT_SIZE];
    int length = (int)sizeof text - 1;
    fflush(stdout);
    fprintf(stderr, "%s failed (%d) at \"%s\"", call, result, g_currentStep);
    if (DravikLastError(text, &length) != DRAVIK_NO_MESSAGE) {
        fprintf(stderr, ": %s", text);
    }
    length = (int)sizeof text - 1;
    if (DravikLastWarning(text, &length) != DRAVIK_NO_MESSAGE) {
        fprintf(stderr, " (warning: %s)", text);
    }
    fputc('\n', stderr);
    return result;
}

static void SleepMs(long ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

static void PrintHex(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (i % 16 == 0) {
            printf("%s%06zx ", i == 0 ? "" : "\n", i);
        }
        printf(" %02X", bytes[i]);
    }
    printf("\n");
}

/* Payload bytes of instrumentation packets on stimulus port 0. Knows just enough of the ITM packet
 * protocol to step over the other packets; the decoder under tools/ does the real work. */
static void PrintPort0Text(const unsigned char* bytes, size_t count) {
    size_t i = 0;
    while (i < count) {
        const unsigned char header = bytes[i++];
        if (header == 0x00) { /* synchronisation: zeros, then 0x80 */
            while (i < count && bytes[i] == 0x00) {
                ++i;
            }
            if (i < count && bytes[i] == 0x80) {
                ++i;
            }
        } else if ((header & 0x03) != 0) { /* source packet: 1, 2 or 4 payload bytes */
            const size_t size = (header & 0x03) == 3 ? 4 : (size_t)(header & 0x03);
            const int instrumentation = (header & 0x04) == 0;
            for (size_t b = 0; b < size && i < count; ++b, ++i) {
                const unsigned char c = bytes[i];
                if (instrumentation && header >> 3 == 0) {
                    putchar(c == '\n' || (c >= 0x20 && c < 0x7F) ? c : '.');
                }
            }
        } else if (header != 0x70 && (header & 0x80) != 0) {
            /* timestamp or extension with continuation bytes */
            while (i < count && (bytes[i++] & 0x80) != 0) {
            }
        } /* else overflow, or a one-byte timestamp or extension */
    }
}

int main(int argc, char** argv) {
    const long captureMs = argc > 2 ? strtol(argv[2], NULL, 10) : 100;
    char serial[kSerialCapacity] = "";
    int status = 0;
    int result;

    /* 1. List the probes. */
    char list[4096];
    int listSize = (int)sizeof list;
    int probeCount = 0;
    result = DravikEnumerateDevices(NULL, list, &listSize, &probeCount);
    if (result > 0) {
        return Report("DravikEnumerateDevices", result);
    }
    printf("1. DravikEnumerateDevices: %d probe(s)\n%s", probeCount, probeCount > 0 ? list : "");
    if (argc > 1) {
        snprintf(serial, sizeof serial, "%s", argv[1]);
    } else if (probeCount > 0) {
        const size_t end = strcspn(list, "\t\n");
        snprintf(serial, sizeof serial, "%.*s", (int)end, list);
    } else {
        fprintf(stderr, "no probe to select\n");
        DravikCloseDevice();
        return 1;
    }

    /* 2. Select it and connect to its target (halted after a reset). */
    result = DravikSelectDevice(serial, DRAVIK_SELECT_STRICT, &status);
    if (result != DRAVIK_OK) {
        Report("DravikSelectDevice", result);
        DravikCloseDevice();
        return 1;
    }
    printf("2. DravikSelectDevice(%s): core status %d\n", serial, status);

    /* 3. Program DEMCR, the ITM and the TPIU; the probe's receiver starts at 2 Mbit/s. */
    int fifoSize = 0;
    result = DravikSetupDevice(kTraceClockHz, kPrescaler, kAllPorts, DRAVIK_TX_NRZ, &fifoSize);
    if (result != DRAVIK_OK) {
        Report("DravikSetupDevice", result);
        DravikCloseDevice();
        return 1;
    }
    printf("3. DravikSetupDevice(%d, %d): TPIU FIFO %d bytes, SWO at %d bit/s\n", kTraceClockHz,
           kPrescaler, fifoSize, kTraceClockHz / kPrescaler);

    /* 4. Let the core run. */
    result = DravikRunDevice(&status);
    if (result != DRAVIK_OK) {
        Report("DravikRunDevice", result);
        DravikCloseDevice();
        return 1;
    }
    printf("4. DravikRunDevice: core status %d\n", status);

    /* 5. Poll the trace bytes into our buffer, each read appending. */
    int total = 0;
    int polls = 0;
    for (long waited = 0; waited < captureMs && total < kCaptureCapacity;
         waited += kPollIntervalMs) {
        SleepMs(kPollIntervalMs);
        int length = kCaptureCapacity;
        result = DravikReadSWVData((char*)g_capture, total, &length);
        ++polls;
        if (result != DRAVIK_OK) {
            Report("DravikReadSWVData", result);
            if (result != DRAVIK_REFUSED) {
                break;
            }
            continue;
        }
        total += length;
    }
    printf("5. DravikReadSWVData: %d bytes in %d polls\n", total, polls);

    /* 6. Stop the receiver and close everything. */
    result = DravikStopSWVRead();
    if (result != DRAVIK_OK) {
        Report("DravikStopSWVRead", result);
    }
    result = DravikCloseDevice();
    printf("6. DravikStopSWVRead, DravikCloseDevice: %d\n", result);

    printf("\nraw trace bytes:\n");
    PrintHex(g_capture, (size_t)total);
    printf("\nstimulus port 0 as text:\n");
    PrintPort0Text(g_capture, (size_t)total);
    printf("\n");
    return 0;
}
