// A C++ host that drives the device object directly: opens a probe by serial number and prints
// its version, then lists the probes through the C interface. Exit status 1 on any failure.
#include <cstdio>

#include "DbgDev.h"
#include "DravikTrace.h"

int main(int argc, char** argv) {
    const char* serial = argc > 1 ? argv[1] : "DRAVIK-BENCH-0001";
    DbgDev dev(DRAVIK_USB_INTERFACE);
    int count = 0;
    int result = dev.EnumerateDevInterface(nullptr, &count, 0);
    if (result == DBGDEV_OK) {
        result = dev.OpenDravik(nullptr, serial, 1);
    }
    VERSION version{};
    if (result == DBGDEV_OK) {
        result = dev.Veltra_GetVersion(&version);
    }
    dev.CloseDravik();
    if (result != DBGDEV_OK) {
        std::fprintf(stderr, "%s: %s (%d)\n", serial, DbgDev::ResultText(result), result);
        return 1;
    }
    std::printf("%s: generation %u, product 0x%04X\n", serial, version.dravikVer,
                version.usbProductId);

    char list[1024];
    int size = static_cast<int>(sizeof list);
    result = DravikEnumerateDevices(nullptr, list, &size, &count);
    DravikCloseDevice();
    if (result != DRAVIK_OK) {
        std::fprintf(stderr, "DravikEnumerateDevices failed (%d)\n", result);
        return 1;
    }
    std::printf("%d probe(s):\n%.*s", count, size, list);
    return 0;
}
